#include "shell/guard/identity_key.h"

#include <cstdio>
#include <filesystem>
#include <system_error>

#include <QString>

#include "shell/guard/guard_error.h"

namespace guard {

namespace {

std::string& OverridePath() {
  static std::string path;
  return path;
}

}  // namespace

std::string IdentityKey(const std::string& programPath) {
  QString key = QStringLiteral("Jcl") + QString::fromUtf8(programPath.data(),
                                                         static_cast<qsizetype>(programPath.size()));
  key = key.toUpper();
  key.replace(QLatin1Char('/'), QLatin1Char('_'));
  const QByteArray utf8 = key.toUtf8();
  return std::string(utf8.constData(), static_cast<std::size_t>(utf8.size()));
}

std::string ProgramPath() {
  if (!OverridePath().empty()) return OverridePath();
  std::error_code ec;
  const std::filesystem::path path = std::filesystem::read_symlink("/proc/self/exe", ec);
  if (ec) {
    throw GuardError("Cannot find the program file (/proc/self/exe): " + ec.message());
  }
  return path.string();
}

void SetProgramPathForTesting(const std::string& path) { OverridePath() = path; }

std::uint64_t KeyHash(const std::string& key) {
  std::uint64_t h = 14695981039346656037ull;
  for (unsigned char c : key) {
    h ^= c;
    h *= 1099511628211ull;
  }
  return h;
}

std::string KeyHashText(const std::string& key) {
  char text[17];
  std::snprintf(text, sizeof text, "%016llx", static_cast<unsigned long long>(KeyHash(key)));
  return text;
}

}  // namespace guard
