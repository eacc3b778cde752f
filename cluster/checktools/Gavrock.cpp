// Gavrock.exe: the environment dump tool the manager runs at start-up.
//
//   Gavrock "/ep:<executable>" "/lfp:<report file>"
//
// Writes a report of the machine (system, processors, memory, disks) and of the named
// executable to the report file, replacing an older one, and exits 0. When it cannot
// (no report path, a report that cannot be written) it says why on standard error and
// exits with a non-zero code: 2 for wrong arguments, 3 for a report it cannot write.
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <sys/utsname.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <fstream>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "common/Utils.h"
#include "platform/process.h"

namespace {

bool StartsWithNoCase(const std::string& text, const char* prefix) {
  std::size_t n = std::strlen(prefix);
  return text.size() >= n && strncasecmp(text.c_str(), prefix, n) == 0;
}

// The file's text, or "" when it cannot be read.
std::string ReadText(const std::string& path) {
  std::string text;
  return ReadWholeFile(path, text) ? text : std::string();
}

// The value of "key<sep>value" lines (the first match), trimmed; "" when missing.
std::string FieldOf(const std::string& text, const std::string& key, char separator) {
  for (const std::string& line : SplitLines(text)) {
    std::size_t at = line.find(separator);
    if (at == std::string::npos) continue;
    std::string name = line.substr(0, at);
    while (!name.empty() && (name.back() == ' ' || name.back() == '\t')) name.pop_back();
    if (name != key) continue;
    std::string value = line.substr(at + 1);
    std::size_t first = value.find_first_not_of(" \t\"");
    std::size_t last = value.find_last_not_of(" \t\"\r");
    return first == std::string::npos ? std::string() : value.substr(first, last - first + 1);
  }
  return "";
}

std::string TimeText(std::time_t t) {
  std::tm local{};
  localtime_r(&t, &local);
  char text[32];
  std::strftime(text, sizeof text, "%Y-%m-%d %H:%M:%S", &local);
  return text;
}

std::string Megabytes(unsigned long long bytes) { return FormatText("%llu MB", bytes / (1024ULL * 1024ULL)); }

void WriteSystem(std::ostream& out) {
  out << "[System]\n";
  utsname name{};
  if (uname(&name) == 0) {
    out << "Host name=" << name.nodename << "\n";
    out << "Kernel=" << name.sysname << " " << name.release << " " << name.version << "\n";
    out << "Machine=" << name.machine << "\n";
  }
  std::string osName = FieldOf(ReadText("/etc/os-release"), "PRETTY_NAME", '=');
  out << "Operating system=" << (osName.empty() ? "unknown" : osName) << "\n";
  double upSeconds = 0;
  if (std::sscanf(ReadText("/proc/uptime").c_str(), "%lf", &upSeconds) == 1) {
    auto seconds = static_cast<unsigned long long>(upSeconds);
    out << FormatText("Up time=%llu s (%llu days %02llu:%02llu:%02llu)\n", seconds, seconds / 86400,
                      seconds / 3600 % 24, seconds / 60 % 60, seconds % 60);
  }
  out << "\n";
}

void WriteProcessors(std::ostream& out) {
  out << "[Processors]\n";
  out << "Count=" << platform::ProcessorCount() << "\n";
  std::string cpuinfo = ReadText("/proc/cpuinfo");
  std::string model = FieldOf(cpuinfo, "model name", ':');
  if (model.empty()) model = FieldOf(cpuinfo, "Model", ':');
  out << "Model=" << (model.empty() ? "unknown" : model) << "\n";
  std::string mhz = FieldOf(cpuinfo, "cpu MHz", ':');
  if (!mhz.empty()) out << "Clock=" << mhz << " MHz\n";
  out << "\n";
}

void WriteMemory(std::ostream& out) {
  out << "[Memory]\n";
  std::string meminfo = ReadText("/proc/meminfo");
  const char* keys[] = {"MemTotal", "MemAvailable", "SwapTotal", "SwapFree"};
  for (const char* key : keys) {
    std::string value = FieldOf(meminfo, key, ':');
    out << key << "=" << (value.empty() ? "unknown" : value) << "\n";
  }
  out << "\n";
}

// One line per file system: "<label>=<what>total <size>, free <size>".
void WriteDisk(std::ostream& out, const std::string& path, const std::string& label, const std::string& what) {
  struct statvfs fs {};
  if (statvfs(path.c_str(), &fs) != 0) return;
  unsigned long long total = static_cast<unsigned long long>(fs.f_blocks) * fs.f_frsize;
  unsigned long long avail = static_cast<unsigned long long>(fs.f_bavail) * fs.f_frsize;
  out << label << "=" << what << "total " << Megabytes(total) << ", free " << Megabytes(avail) << "\n";
}

// The file systems on devices, and those that hold the executable and the report.
void WriteDisks(std::ostream& out, const std::vector<std::string>& paths) {
  out << "[Disks]\n";
  std::istringstream mounts(ReadText("/proc/mounts"));
  std::string device, mountPoint, type, rest;
  std::set<std::string> seen;
  while (mounts >> device >> mountPoint >> type && std::getline(mounts, rest)) {
    if (device.empty() || device[0] != '/' || !seen.insert(mountPoint).second) continue;
    WriteDisk(out, mountPoint, mountPoint, type + ", ");
  }
  for (const std::string& path : paths) {
    struct stat st {};
    if (path.empty() || stat(path.c_str(), &st) != 0) continue;
    WriteDisk(out, path, "Holding " + path, "");
  }
  out << "\n";
}

void WriteExecutable(std::ostream& out, const std::string& path) {
  out << "[Executable]\n";
  out << "Path=" << path << "\n";
  std::ifstream file(path, std::ios::binary);
  struct stat st {};
  if (path.empty() || !file || stat(path.c_str(), &st) != 0) {
    out << "State=not found\n\n";
    return;
  }
  uint32_t crc = 0;
  std::vector<char> buffer(1 << 16);
  while (file) {
    file.read(buffer.data(), static_cast<std::streamsize>(buffer.size()));
    crc = Crc32(crc, buffer.data(), static_cast<std::size_t>(file.gcount()));
  }
  out << "Size=" << static_cast<unsigned long long>(st.st_size) << "\n";
  out << "Modified=" << TimeText(st.st_mtime) << "\n";
  out << FormatText("CRC-32=%08X\n", crc) << "\n";
}

}  // namespace

int main(int argc, char** argv) {
  std::string exePath;
  std::string reportPath;
  for (int i = 1; i < argc; ++i) {
    std::string arg = argv[i];
    if (StartsWithNoCase(arg, "/ep:"))
      exePath = arg.substr(4);
    else if (StartsWithNoCase(arg, "/lfp:"))
      reportPath = arg.substr(5);
    else
      std::fprintf(stderr, "Gavrock: ignoring unknown argument \"%s\"\n", arg.c_str());
  }
  if (reportPath.empty()) {
    std::fprintf(stderr, "Gavrock: no report path given\nusage: Gavrock \"/ep:<executable>\" \"/lfp:<report file>\"\n");
    return 2;
  }

  std::ostringstream report;
  report << "Environment report written by Gavrock at " << TimeText(std::time(nullptr)) << "\n\n";
  WriteSystem(report);
  WriteProcessors(report);
  WriteMemory(report);
  std::string reportDir =
      reportPath.substr(0, reportPath.rfind('/') == std::string::npos ? 0 : reportPath.rfind('/') + 1);
  WriteDisks(report, {exePath, reportDir});
  WriteExecutable(report, exePath);

  // The report lies in the log directory: for the operator's group only, as the logs.
  umask(027);
  std::ofstream out(reportPath, std::ios::binary | std::ios::trunc);
  if (!out) {
    std::fprintf(stderr, "Gavrock: cannot write the report \"%s\": %s\n", reportPath.c_str(), std::strerror(errno));
    return 3;
  }
  out << report.str();
  out.close();
  if (!out) {
    std::fprintf(stderr, "Gavrock: writing the report \"%s\" failed: %s\n", reportPath.c_str(), std::strerror(errno));
    return 3;
  }
  return 0;
}
