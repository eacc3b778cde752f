// The status server's command line.
#include <string>
#include <vector>

#include "ServerText.h"
#include "StatusServer.h"
#include "common/Utils.h"

namespace statusserver {

namespace {

bool ParseHostPort(const std::string& text, std::string& host, int& port) {
  const auto colon = text.rfind(':');
  if (colon == std::string::npos || colon == 0) return false;
  host = text.substr(0, colon);
  const std::string digits = text.substr(colon + 1);
  if (digits.empty() || digits.size() > 5 || digits.find_first_not_of("0123456789") != std::string::npos) return false;
  port = std::stoi(digits);
  return port <= 65535;
}

}  // namespace

const char* ServerUsage() {
  return "usage: VemoStatusServer [options]\n"
         "  --listen=HOST:PORT       address for managers (default 127.0.0.1:21888; port 0 picks one)\n"
         "  --lineinfo=HOST:PORT     line-information service for Sarvent.py (default 127.0.0.1:19001),\n"
         "                           or --lineinfo=off\n"
         "  --version=N --line=N     what the line-information service answers (default 1 and 1)\n"
         "  --period=SECONDS         ask every manager for base information this often (default 10;\n"
         "                           fractions allowed; 0 asks only on demand)\n"
         "  --fetch-dir=DIR          where fetched logs are written (default FetchedLogs)\n"
         "  --on-login=COMMAND       run COMMAND for every manager that logs in (repeatable):\n"
         "                           info | getlog FILE | cmd NAME [PARAMETER]\n"
         "  --max-log-size=BYTES     refuse a fetched log that inflates to more (default 1073741824)\n"
         "  --login-timeout=SECONDS  drop a connection that sends no login in time (default 30)\n"
         "Commands on standard input, one per line (TARGET is a manager number or all):\n"
         "  list | info TARGET | getlog TARGET FILE | cmd TARGET NAME [PARAMETER] | help | quit\n";
}

bool ParseServerOptions(const std::vector<std::string>& args, ServerOptions& options, bool& help, std::string& error) {
  help = false;
  for (const std::string& arg : args) {
    const auto equals = arg.find('=');
    const std::string name = arg.substr(0, equals);
    const std::string value = equals == std::string::npos ? "" : arg.substr(equals + 1);
    const bool hasValue = equals != std::string::npos;
    long long number = 0;
    if (name == "--help" || name == "-h") {
      help = true;
    } else if (name == "--listen" && hasValue) {
      if (!ParseHostPort(value, options.ListenHost, options.ListenPort)) {
        error = "bad address in " + arg;
        return false;
      }
    } else if (name == "--lineinfo" && hasValue) {
      if (value == "off") {
        options.LineInfo = false;
      } else if (ParseHostPort(value, options.LineInfoHost, options.LineInfoPort)) {
        options.LineInfo = true;
      } else {
        error = "bad address in " + arg;
        return false;
      }
    } else if ((name == "--version" || name == "--line") && hasValue) {
      if (!ParseNumber(value, -2147483647LL - 1, 2147483647LL, number)) {
        error = "not a number: " + arg;
        return false;
      }
      (name == "--version" ? options.Version : options.Line) = static_cast<int>(number);
    } else if (name == "--period" && hasValue) {
      char* end = nullptr;
      const double seconds = std::strtod(value.c_str(), &end);
      if (value.empty() || end != value.c_str() + value.size() || !(seconds >= 0) || seconds > 86400) {
        error = "bad period in " + arg;
        return false;
      }
      options.PeriodMs = static_cast<int>(seconds * 1000);
    } else if (name == "--fetch-dir" && hasValue && !value.empty()) {
      options.FetchDir = value;
    } else if (name == "--on-login" && hasValue && !value.empty()) {
      options.OnLogin.push_back(value);
    } else if (name == "--max-log-size" && hasValue) {
      if (!ParseNumber(value, 0, 1LL << 50, number)) {
        error = "bad size in " + arg;
        return false;
      }
      options.MaxLogBytes = static_cast<uint64_t>(number);
    } else if (name == "--login-timeout" && hasValue) {
      if (!ParseNumber(value, 1, 86400, number)) {
        error = "bad time in " + arg;
        return false;
      }
      options.LoginTimeoutMs = static_cast<int>(number * 1000);
    } else {
      error = "unknown option " + arg;
      return false;
    }
  }
  return true;
}

}  // namespace statusserver
