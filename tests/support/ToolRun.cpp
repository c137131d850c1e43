#include "support/ToolRun.h"

#include <cstdlib>
#include <utility>

namespace sorvel::testing {

ArchiveBuilder sampleArchive() {
  ArchiveBuilder builder;
  builder.settings.password = bytesOf(kToolPassword);
  builder.addFolder(u"docs").modified = 1700000000;
  builder.addFile(u"docs\\readme.txt", "read me first\n").modified = 1700000100;
  builder.addFile(u"docs\\notes\\a.txt", "note a").modified = 1700000200;
  Item& readOnly = builder.addFile(u"docs\\ro.txt", "frozen");
  readOnly.attributes = 0x21;
  readOnly.modified = 1700000300;
  builder.addFolder(u"empty");
  builder.addGeneratedFile(u"big.bin", 100000, seededContent(14)).modified = 1700000400;
  builder.addFile(u"top.txt", "top").modified = 1700000500;
  return builder;
}

ArchiveBuilder damagedArchive() {
  ArchiveBuilder builder = sampleArchive();
  builder.addFile(u"bad.bin", Bytes(100, 0x42)).storedSize = 40000;
  return builder;
}

Bytes sampleBigContent() { return generateContent(seededContent(14), 0, 100000); }

namespace {

std::string environmentValue(const char* name) {
  const char* value = std::getenv(name);
  return value != nullptr ? value : "";
}

}  // namespace

bool toolIsWindowsProgram() { return environmentValue("SORVEL_TOOL_UNDER_TEST").ends_with(".exe"); }

ProcessResult runTool(const std::vector<std::string>& args, std::vector<std::string> environment,
                      const std::string& stdinBytes, const std::string& workingDirectory) {
  ProcessRequest request;
  const std::string other = environmentValue("SORVEL_TOOL_UNDER_TEST");
  const std::string runner = environmentValue("SORVEL_TOOL_RUNNER");
  request.program = other.empty() ? SORVEL_TOOL_EXE : runner.empty() ? other : runner;
  if (!other.empty() && !runner.empty()) request.args.push_back(other);
  request.args.insert(request.args.end(), args.begin(), args.end());
  request.stdinBytes = stdinBytes;
  request.workingDirectory = workingDirectory;
  request.environment = std::move(environment);
  request.environment.emplace_back("TZ=UTC");
  return runProcess(request);
}

}  // namespace sorvel::testing
