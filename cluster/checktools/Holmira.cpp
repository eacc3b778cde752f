// Holmira.exe: the file integrity check tool the manager runs at start-up.
//
//   Holmira                              checks the files listed in "Holmira.manifest"
//                                        beside this program
//   Holmira /make <manifest> <file>...   writes a manifest of the given files (the build
//                                        runs this over the programs and libraries it
//                                        puts in build/bin)
//
// A manifest line is "<CRC-32 as 8 hex digits> <size in bytes> <path>", the path relative
// to the manifest's directory; lines starting with "#" are comments. The check reports
// each file that is missing or differs on standard output and exits 0 when all match,
// 1 when any differs, 2 when the manifest cannot be read or a line is malformed.
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "common/Utils.h"
#include "platform/paths.h"

namespace {

constexpr const char* kManifestName = "Holmira.manifest";

// CRC-32 and size of a file; false when it cannot be read.
bool Checksum(const std::string& path, uint32_t* crc, unsigned long long* size) {
  std::ifstream file(path, std::ios::binary);
  if (!file) return false;
  *crc = 0;
  *size = 0;
  std::vector<char> buffer(1 << 16);
  while (file) {
    file.read(buffer.data(), static_cast<std::streamsize>(buffer.size()));
    auto got = static_cast<std::size_t>(file.gcount());
    *crc = Crc32(*crc, buffer.data(), got);
    *size += got;
  }
  return !file.bad();
}

std::string DirectoryOf(const std::string& path) {
  std::size_t slash = path.rfind('/');
  return slash == std::string::npos ? std::string() : path.substr(0, slash + 1);
}

int MakeManifest(const std::string& manifestPath, int count, char** files) {
  std::string base = DirectoryOf(manifestPath);
  std::ostringstream out;
  out << "# Holmira manifest: CRC-32, size in bytes, path relative to this file\n";
  for (int i = 0; i < count; ++i) {
    std::string path = files[i];
    uint32_t crc = 0;
    unsigned long long size = 0;
    if (!Checksum(path, &crc, &size)) {
      std::fprintf(stderr, "Holmira: cannot read \"%s\": %s\n", path.c_str(), std::strerror(errno));
      return 2;
    }
    std::string relative = !base.empty() && path.compare(0, base.size(), base) == 0 ? path.substr(base.size()) : path;
    out << FormatText("%08X %llu ", crc, size) << relative << "\n";
  }
  std::ofstream file(manifestPath, std::ios::binary | std::ios::trunc);
  file << out.str();
  file.close();
  if (!file) {
    std::fprintf(stderr, "Holmira: cannot write \"%s\": %s\n", manifestPath.c_str(), std::strerror(errno));
    return 2;
  }
  return 0;
}

int CheckManifest(const std::string& manifestPath) {
  std::string manifest;
  int error = 0;
  if (!ReadWholeFile(manifestPath, manifest, &error)) {
    std::fprintf(stderr, "Holmira: cannot read the manifest \"%s\": %s\n", manifestPath.c_str(), std::strerror(error));
    return 2;
  }
  std::string base = DirectoryOf(manifestPath);
  int lineNumber = 0;
  int checked = 0;
  int mismatches = 0;
  for (const std::string& line : SplitLines(manifest)) {
    ++lineNumber;
    if (line.empty() || line[0] == '#') continue;
    unsigned int expectedCrc = 0;
    unsigned long long expectedSize = 0;
    int consumed = 0;
    if (std::sscanf(line.c_str(), "%8x %llu %n", &expectedCrc, &expectedSize, &consumed) != 2 || consumed <= 0 ||
        static_cast<std::size_t>(consumed) >= line.size()) {
      std::fprintf(stderr, "Holmira: malformed line %d in \"%s\": %s\n", lineNumber, manifestPath.c_str(),
                   line.c_str());
      return 2;
    }
    std::string name = line.substr(static_cast<std::size_t>(consumed));
    std::string path = !name.empty() && name[0] == '/' ? name : base + name;
    ++checked;
    uint32_t crc = 0;
    unsigned long long size = 0;
    if (!Checksum(path, &crc, &size)) {
      std::printf("MISSING  %s\n", name.c_str());
      ++mismatches;
    } else if (crc != expectedCrc || size != expectedSize) {
      std::printf("CHANGED  %s (expected CRC-32 %08X, %llu bytes; found %08X, %llu bytes)\n", name.c_str(), expectedCrc,
                  expectedSize, crc, size);
      ++mismatches;
    }
  }
  std::printf("Holmira: %d file(s) checked, %d mismatch(es)\n", checked, mismatches);
  return mismatches == 0 ? 0 : 1;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc >= 2 && strcasecmp(argv[1], "/make") == 0) {
    if (argc < 3) {
      std::fprintf(stderr, "usage: Holmira /make <manifest> <file>...\n");
      return 2;
    }
    return MakeManifest(argv[2], argc - 3, argv + 3);
  }
  return CheckManifest(platform::ExeDir() + kManifestName);
}
