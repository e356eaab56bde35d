// Whole runs of the update through the fake platform, with everything that the
// platform could answer chosen by the fuzzer: whether the key opens, each value's
// bytes (up to and past every buffer), the boxes' answers, QDXCOMP and each
// command's status. Sanitizers catch any read or write past a buffer; the checks
// below catch any broken promise of the run.
#include <fuzzer/FuzzedDataProvider.h>

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "installer/update_run.h"
#include "tests/unit/fake_windows.h"

namespace {

using std::string;

constexpr std::size_t LONGEST_COMMAND = 519;

void require(bool kept, const char* promise) {
  if (kept) return;
  std::fprintf(stderr, "broken promise: %s\n", promise);
  std::abort();
}

long pickResult(FuzzedDataProvider& input) {
  return input.ConsumeBool() ? 0 : input.ConsumeIntegral<long>();
}

void scriptValue(FuzzedDataProvider& input, FakeWindows& fake, const char* name) {
  if (!input.ConsumeBool()) return;
  const auto length = input.ConsumeIntegralInRange<std::size_t>(0, 600);
  fake.values[name] = input.ConsumeBytesAsString(length);
}

std::optional<string> pickCompiler(FuzzedDataProvider& input) {
  switch (input.ConsumeIntegralInRange(0, 3)) {
    case 0:
      return std::nullopt;
    case 1:
      return "MSVC";
    default:
      return input.ConsumeRandomLengthString(600);
  }
}

// The registered text as the program must take it: up to its first zero byte.
string text(const FakeWindows& fake, const char* name) {
  const string& bytes = fake.values.at(name);
  return bytes.substr(0, bytes.find('\0'));
}

bool endsInBackslash(const string& text, unsigned int codePage);

// A file of the distribution that a complete update puts at destination.
struct PayloadFile {
  string destination;
  unsigned long long size;
};

// What the update is to copy, whether a link below the installation stands
// where a copy would write, and whether anyone may change what a copy reads.
struct ScriptedFiles {
  std::vector<PayloadFile> payload;
  bool linked = false;
  bool open = false;
  std::vector<string> sources;  // the files of the trees
  string sealed;                // the list that setup.exe was sealed with, if it was
  string atStart;               // the list as the distribution stands when setup.exe starts
};

// Lets Everyone change the file or folder at path; true when it did.
bool scriptOpen(FuzzedDataProvider& input, const string& path) {
  FakeFile* file = findFile(path);
  if (file == nullptr || input.ConsumeBool() || input.ConsumeBool()) return false;
  file->dacl->push_back({"S-1-1-0", 0x1301FF});
  return true;
}

// Makes the file or folder at path a reparse point of the fuzzer's tag (a
// symbolic link, a deduplicated file, or one whose tag cannot be read), or a
// file of two names; true when that is a link that the copies must not write through.
bool scriptLink(FuzzedDataProvider& input, const string& path) {
  FakeFile* file = findFile(path);
  if (file == nullptr || input.ConsumeBool()) return false;
  switch (input.ConsumeIntegralInRange(0, 3)) {
    case 0:
      file->names = 2;
      return !file->isFolder;
    case 1:
      file->attributes |= 0x400;
      file->reparseTag = 0x80000013;
      return false;
    default:
      file->attributes |= 0x400;
      if (input.ConsumeBool()) file->reparseTag = 0xA000000C;
      return true;
  }
}

// The installation folder and the three trees, each there or not, with a file of
// the fuzzer's size (hidden, system, or locked at its destination, which may be
// a link) in each tree, the volume's room, and a copy that leaves the first file out.
ScriptedFiles scriptFiles(FuzzedDataProvider& input, FakeWindows& fake) {
  ScriptedFiles scripted;
  std::vector<PayloadFile>& payload = scripted.payload;
  addFile(fake.programPath);
  scripted.open = scriptOpen(input, "C:\\dist");
  if (fake.values.count("InstallDir") == 0 || fake.values.count("Installed NLV") == 0 ||
      !fake.compiler) {
    return scripted;
  }
  string installDir = text(fake, "InstallDir");
  if (!endsInBackslash(installDir, fake.codePage)) installDir += '\\';
  // An installation inside the distribution (or a relative path that lands there)
  // makes the copies cyclic; this model leaves it missing, which the run refuses.
  string where = installDir;
  for (char& c : where) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  const bool inDistribution =
      where.rfind("C:\\DIST\\", 0) == 0 || where.size() < 2 || where[1] != ':';
  if (!inDistribution && (input.ConsumeBool() || input.ConsumeBool())) addFile(installDir);
  const string compiler = *fake.compiler == "MSVC" ? "MS60" : fake.compiler->c_str();
  const string trees[3][2] = {{"Common", installDir},
                              {compiler, installDir + compiler + "\\"},
                              {text(fake, "Installed NLV"), installDir}};
  for (const auto& [source, destination] : trees) {
    if (source.empty() || !(input.ConsumeBool() || input.ConsumeBool())) continue;
    const string name = "f" + std::to_string(payload.size() + fake.files.size()) + ".dat";
    const auto size = input.ConsumeIntegralInRange<unsigned long long>(0, 1 << 20);
    FakeFile& file = addFile(source + "\\" + name, size, 7);
    scripted.sources.push_back(source + "\\" + name);
    file.attributes = input.PickValueInArray({0UL, 0UL, 0x2UL, 0x4UL});
    scripted.open = scriptOpen(input, source + "\\" + name) || scripted.open;
    if (inDistribution) continue;
    const bool listed = file.attributes == 0;  // hidden and system files are not copied
    if (listed) payload.push_back({destination + name, size});
    if (input.ConsumeBool()) addFile(destination + name, size / 2).locked = input.ConsumeBool();
    scripted.linked = (scriptLink(input, destination + name) && listed) || scripted.linked;
  }
  scripted.linked = scriptLink(input, installDir + compiler) || scripted.linked;
  fake.freeBytes = input.ConsumeBool() ? 1ULL << 40 : input.ConsumeIntegralInRange(0, 1 << 22);
  fake.clusterBytes = input.PickValueInArray({1ULL, 512ULL, 4096ULL});
  if (!payload.empty() && input.ConsumeBool()) {
    fake.afterCopies = [gone = payload[0].destination](FakeWindows&) {
      if (FakeFile* file = findFile(gone)) file->size += 1;
    };
  }
  return scripted;
}

// Seals the distribution, then may change, remove or add a file of the trees.
void scriptSeal(FuzzedDataProvider& input, FakeWindows& fake, ScriptedFiles* scripted) {
  if (scripted->sources.empty() || input.ConsumeBool()) return;
  sealDistribution();
  scripted->sealed = findFile("Mendrel2.sha256")->content;
  const string& path =
      scripted->sources[input.ConsumeIntegralInRange<std::size_t>(0, scripted->sources.size() - 1)];
  switch (input.ConsumeIntegralInRange(0, 3)) {
    case 0:
      findFile(path)->content = "changed";
      break;
    case 1:
      fake.files.erase(std::find_if(fake.files.begin(), fake.files.end(), [&](const auto& entry) {
        return &entry.second == findFile(path);
      }));
      break;
    case 2:
      addFile(path + ".new");
      break;
    default:
      break;
  }
  scripted->atStart = releasedList();
}

void script(FuzzedDataProvider& input, FakeWindows& fake) {
  fake.codePage = input.ConsumeBool() ? 932 : 1252;
  fake.keyExists = input.ConsumeBool() || input.ConsumeBool();
  fake.openReadError = pickResult(input);
  fake.openWriteError = pickResult(input);
  fake.setError = pickResult(input);
  for (const char* name : {"InstallDir", "Installed NLV", "ServiceLevel"}) {
    scriptValue(input, fake, name);
  }
  fake.compiler = pickCompiler(input);
  for (int i = 0; i < 2; ++i) {
    fake.answers.push_back(input.PickValueInArray({1, 2, 0, -1, input.ConsumeIntegral<int>()}));
  }
  for (int i = 0; i < 3; ++i) {
    fake.commandResults.push_back(input.PickValueInArray({0, 1, 2, 4, 5, -1}));
  }
  fake.restricted = !(input.ConsumeBool() || input.ConsumeBool());
  fake.boxesVisible = input.ConsumeBool() || input.ConsumeBool();
  fake.sessionZero = !(input.ConsumeBool() || input.ConsumeBool());
  fake.consoleSession = input.PickValueInArray({0UL, 1UL, 0xFFFFFFFFUL});
  fake.mutexResult = input.PickValueInArray({0L, 0L, 0L, 183L, 5L, 6L, 1450L});
  if (input.ConsumeBool()) fake.environment["PATH"] = "C:\\dist;C:\\Windows\\system32";
  if (input.ConsumeBool()) fake.copySwitches = input.PickValueInArray({"/Y", "/y", "/-Y", ""});
  if (!(input.ConsumeBool() || input.ConsumeBool())) {
    addFile(input.PickValueInArray({"xcopy.bat", "XCOPY.EXE", "xcopy.txt", "xcopy.cmd\\"}));
  }
}

// True when text's last character is a backslash on the fake's code page: on 932
// a byte 0x81-0x9F or 0xE0-0xFC takes the next byte with it.
bool endsInBackslash(const string& text, unsigned int codePage) {
  std::size_t last = 0;
  for (std::size_t i = 0; i < text.size(); ++i) {
    last = i;
    const auto byte = static_cast<unsigned char>(text[i]);
    const bool lead =
        codePage == 932 && ((byte >= 0x81 && byte <= 0x9F) || (byte >= 0xE0 && byte <= 0xFC));
    if (lead && i + 1 < text.size()) ++i;
  }
  return !text.empty() && last == text.size() - 1 && text[last] == '\\';
}

void checkCommands(const FakeWindows& fake) {
  require(fake.commands.empty() || fake.commands.size() == 3, "all three commands or none");
  if (fake.commands.empty()) return;
  const auto firstCopy = std::find_if(fake.calls.begin(), fake.calls.end(), [](const string& call) {
    return call.rfind("run ", 0) == 0;
  });
  require(std::find(fake.calls.begin(), firstCopy, "putenv NoDefaultCurrentDirectoryInExePath=1") !=
              firstCopy,
          "the copies never look for xcopy in the current folder");
  const string interpreter = fake.systemDirectory + "\\cmd.exe";
  for (std::size_t i = 0; i < fake.runs.size(); ++i) {
    const FakeRun& run = fake.runs[i];
    require(run.application == interpreter && run.path == fake.systemDirectory &&
                run.commandLine == "\"" + interpreter + "\" /d /v:off /c " + fake.commands[i],
            "every copy runs in the system's cmd.exe, told to run nothing else");
    const string& command = fake.commands[i];
    require(command.size() <= LONGEST_COMMAND, "a command fits its buffer");
    require(std::count(command.begin(), command.end(), '%') < 2, "no two % in a command");
  }
  string destination = text(fake, "InstallDir");
  if (!endsInBackslash(destination, fake.codePage)) destination += '\\';
  const string variable = fake.compiler->c_str();  // an environment value ends at a zero
  const string compiler = variable == "MSVC" ? "MS60" : variable;
  require(fake.commands[0] == "xcopy /E /I Common \"" + destination + "\"", "first command");
  require(fake.commands[1] == "xcopy /E /I " + compiler + " \"" + destination + compiler + "\"",
          "second command");
  require(
      fake.commands[2] == "xcopy /E /I " + text(fake, "Installed NLV") + " \"" + destination + "\"",
      "third command");
}

// True when every line of the list that the distribution would have had at the
// start, for a file that the copies read, stands in the sealed list. (The copies
// may write into the distribution where the installation lies inside it.)
bool copiesReadOnlySealedBytes(const ScriptedFiles& scripted) {
  const string& now = scripted.atStart;
  for (std::size_t at = 0; at < now.size();) {
    const std::size_t end = now.find('\n', at) + 1;
    const string line = now.substr(at, end - at);
    const FakeFile* file = findFile(line.substr(66, line.size() - 68));
    const bool read = file != nullptr && (file->attributes & 0x6) == 0;
    if (read && scripted.sealed.find(line) == string::npos) return false;
    at = end;
  }
  return true;
}

void checkOutcome(const FakeWindows& fake, int status, const std::vector<int>& commandResults,
                  const ScriptedFiles& scripted) {
  require(scripted.sealed.empty() || fake.commands.empty() || copiesReadOnlySealedBytes(scripted),
          "no copy starts unless every file that the copies read matches the list");
  require(!scripted.linked || fake.commands.empty(), "no copy writes through a link");
  require(!scripted.open || fake.commands.empty(), "no copy reads what a user could change");
  const bool levelWritten = fake.written.count("ServiceLevel") == 1;
  bool allCopied = fake.commands.size() == 3;
  for (const int result : commandResults) allCopied = allCopied && (result == 0 || result == 1);
  require(!levelWritten || allCopied, "the level is written only when every copy succeeded");
  require(status == 0 || status == 1 || status == 2 || status == 1618, "status is 0, 1, 2 or 1618");
  if (status == 1 || status == 1618) require(!touchedInstallation(), "a refusal changes nothing");
  require(status == 0 || !levelWritten, "a written level means status 0");
  if (status == 0) {
    for (const PayloadFile& file : scripted.payload) {
      const FakeFile* copy = findFile(file.destination);
      require(copy != nullptr && !copy->isFolder && copy->size == file.size,
              "status 0 means every payload file is in place");
    }
    require(levelWritten && fake.written.at("ServiceLevel") == string("2\0\0\0", 4),
            "status 0 means the level was recorded");
  }
  const bool seen = fake.boxesVisible && !(fake.sessionZero && fake.consoleSession != 0);
  require(seen || fake.boxes.empty(), "no box where nobody can see one");
  const bool onlyBoxes = std::all_of(fake.calls.begin(), fake.calls.end(),
                                     [](const string& call) { return call.rfind("box ", 0) == 0; });
  require(fake.mutexResult == 0 || (status == 1618 && onlyBoxes),
          "a second run reads and touches nothing");
  // A folder of that name (the language's payload may be one) runs nothing.
  const auto isFile = [](const FakeFile* file) { return file != nullptr && !file->isFolder; };
  const bool planted = isFile(findFile("xcopy.bat")) || isFile(findFile("XCOPY.EXE"));
  require(!planted || fake.commands.empty(), "no copy runs beside a planted xcopy");
  for (const FakeBox& box : fake.boxes) {
    require(box.caption == "Lumeric Server 4.5 Mendrel2", "every box has the caption");
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const unsigned char* data, std::size_t size) {
  FuzzedDataProvider input(data, size);
  resetFakeWindows();
  FakeWindows& fake = fakeWindows();
  script(input, fake);
  ScriptedFiles scripted = scriptFiles(input, fake);
  scriptSeal(input, fake, &scripted);
  const std::vector<int> commandResults = fake.commandResults;

  const int status = runUpdate();

  checkCommands(fake);
  checkOutcome(fake, status, commandResults, scripted);
  return 0;
}
