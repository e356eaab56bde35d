// The release's seal: the list of released files and the checks of the bytes against it.
#include "installer/release_seal.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "installer/messages.h"
#include "platform/platform.h"

namespace {

constexpr std::size_t LIST_LIMIT = 4UL * 1024 * 1024;
// A line: 64 hex digits, two spaces, a path of a folder and a name, LF.
constexpr std::size_t HEX_DIGITS = 2 * DIGEST_SIZE;
constexpr std::size_t PATH_AT = HEX_DIGITS + 2;
constexpr std::size_t SHORTEST_LINE = PATH_AT + 3 + 1;

unsigned char upperAscii(unsigned char c) { return c >= 'a' && c <= 'z' ? c - 'a' + 'A' : c; }

int hexValue(unsigned char c) {
  if (c >= '0' && c <= '9') return c - '0';
  return c >= 'a' && c <= 'f' ? c - 'a' + 10 : -1;
}

// A path of the list: printable ASCII with none of the characters that Windows
// refuses in a name, folders and a name none of which is empty or ends in a dot
// or a space, at most as long as the copy reads.
bool isListedPath(const unsigned char* path, std::size_t length) {
  if (length > LONGEST_FILE) return false;
  bool inFolder = false;
  for (std::size_t i = 0; i < length; ++i) {
    const unsigned char c = path[i];
    if (c < 0x20 || c > 0x7E || std::strchr("<>:\"|?*/", c) != nullptr) return false;
    const bool endsName = i + 1 == length || path[i + 1] == '\\';
    if (c == '\\' && (i == 0 || path[i - 1] == '\\')) return false;
    if (endsName && (c == '.' || c == ' ' || c == '\\')) return false;
    inFolder = inFolder || c == '\\';
  }
  return inFolder;
}

// Below, at or above zero as a listed path (ended by CR) sorts before, with
// or after key, which is in upper case, both as ASCII in upper case.
int comparePath(const unsigned char* path, const unsigned char* key) {
  for (;; ++path, ++key) {
    const unsigned char listed = *path == '\r' ? 0 : upperAscii(*path);
    if (listed != *key || listed == 0) return listed - *key;
  }
}

// The list as parsed: its lines, each ended with CR LF as the seal hashes them.
struct SealList {
  unsigned char* text = nullptr;
  // The list is read this far into text: each line may gain a CR, the last a CR LF.
  std::size_t room = 0;
  std::size_t* lines = nullptr;  // where each line begins in text
  bool* matched = nullptr;       // a file of the tree being checked was found for it
  std::size_t count = 0;

  SealList() = default;
  SealList(const SealList&) = delete;
  SealList& operator=(const SealList&) = delete;
  ~SealList() {
    std::free(text);
    std::free(lines);
    std::free(matched);
  }

  [[nodiscard]] const unsigned char* path(std::size_t line) const {
    return text + lines[line] + PATH_AT;
  }

  // True when line's digest is digest.
  [[nodiscard]] bool holds(std::size_t line, const unsigned char* digest) const {
    const unsigned char* hex = text + lines[line];
    for (std::size_t i = 0; i < DIGEST_SIZE; ++i) {
      if (hexValue(hex[2 * i]) * 16 + hexValue(hex[2 * i + 1]) != digest[i]) return false;
    }
    return true;
  }

  // The line in [first, last) whose path is key, or last.
  [[nodiscard]] std::size_t find(const unsigned char* key, std::size_t first,
                                 std::size_t last) const {
    for (std::size_t low = first, high = last; low < high;) {
      const std::size_t middle = low + (high - low) / 2;
      const int compared = comparePath(path(middle), key);
      if (compared == 0) return middle;
      if (compared < 0)
        low = middle + 1;
      else
        high = middle;
    }
    return last;
  }

  // Moves the line at from, of length bytes without its end, to the end of the
  // parsed text, which ends at *written, ended with CR LF; true when it parses.
  bool take(std::size_t from, std::size_t length, std::size_t* written) {
    const unsigned char* line = text + from;
    if (length < SHORTEST_LINE - 1 || line[HEX_DIGITS] != ' ' || line[HEX_DIGITS + 1] != ' ' ||
        !isListedPath(line + PATH_AT, length - PATH_AT)) {
      return false;
    }
    for (std::size_t i = 0; i < HEX_DIGITS; ++i) {
      if (hexValue(line[i]) < 0) return false;
    }
    std::memmove(text + *written, line, length);
    lines[count++] = *written;
    *written += length;
    text[(*written)++] = '\r';
    text[(*written)++] = '\n';
    return true;
  }

  // Parses the length bytes read at room into lines that begin at text's start:
  // true when every line parses and the paths are in order, each once.
  bool parse(std::size_t length, std::size_t* written) {
    const std::size_t end = room + length;
    for (std::size_t at = room; at < end;) {
      const auto* feed = static_cast<const unsigned char*>(std::memchr(text + at, '\n', end - at));
      const std::size_t next = feed != nullptr ? static_cast<std::size_t>(feed - text) : end;
      const std::size_t ends = next > at && text[next - 1] == '\r' ? next - 1 : next;
      if (!take(at, ends - at, written)) return false;
      at = next + 1;
    }
    return inOrder();
  }

  [[nodiscard]] bool inOrder() const {
    for (std::size_t i = 1; i < count; ++i) {
      unsigned char key[COMPOSED_SIZE];
      std::size_t length = 0;
      for (const unsigned char* c = path(i); *c != '\r'; ++c) key[length++] = upperAscii(*c);
      key[length] = '\0';
      if (comparePath(path(i - 1), key) >= 0) return false;
    }
    return true;
  }
};

// Reads, parses and hashes the list: true when it is the one sealed into setup.exe.
// Memory is taken for the list's own size, and a byte more shows that it grew.
bool readList(const ReleaseSeal& seal, const char* path, SealList* list) {
  platform::FileFacts facts;
  if (!platform::fileFacts(path, &facts) || platform::describesFolder(facts) ||
      facts.size > LIST_LIMIT) {
    return false;
  }
  const auto size = static_cast<std::size_t>(facts.size);
  list->room = size / SHORTEST_LINE + 2;
  list->text = static_cast<unsigned char*>(std::malloc(list->room + size + 1));
  list->lines = static_cast<std::size_t*>(std::malloc(sizeof(std::size_t) * list->room));
  list->matched = static_cast<bool*>(std::calloc(list->room, sizeof(bool)));
  unsigned long length = 0;
  std::size_t written = 0;
  unsigned char digest[DIGEST_SIZE];
  return list->text != nullptr && list->lines != nullptr && list->matched != nullptr &&
         platform::readWholeFile(path, list->text + list->room,
                                 static_cast<unsigned long>(size + 1), &length) &&
         length <= size && list->parse(length, &written) &&
         platform::digestOf(seal.digester, list->text, static_cast<unsigned long>(written),
                            digest) &&
         std::memcmp(digest, seal.listDigest, DIGEST_SIZE) == 0;
}

RunOutcome refuse(const char* format, const char* sourceRoot, const char* path) {
  ComposedText full;
  (void)std::snprintf(full, sizeof full, "%s%s", sourceRoot, path);
  return stopRunNaming(format, full);
}

// Checks one tree: its lines are those below its folder, which sort together.
struct TreeCheck {
  const SealList& list;
  const char* sourceRoot;
  std::size_t first = 0, last = 0;

  void findLines(const char* folder) {
    ComposedText prefix;
    (void)std::snprintf(prefix, sizeof prefix, "%s\\", folder);
    const std::size_t length = std::strlen(prefix);
    platform::upperCase(prefix, static_cast<unsigned long>(length));
    const auto below = [&](std::size_t line) {
      const unsigned char* path = list.path(line);
      for (std::size_t i = 0; i < length; ++i) {
        if (path[i] == '\r' || upperAscii(path[i]) != static_cast<unsigned char>(prefix[i])) {
          return false;
        }
      }
      return true;
    };
    for (first = 0; first < list.count && !below(first);) ++first;
    for (last = first; last < list.count && below(last);) ++last;
    for (std::size_t line = first; line < last; ++line) list.matched[line] = false;
  }

  RunOutcome checkFile(const PayloadItem& item, const char* path) {
    ComposedText key;
    (void)std::snprintf(key, sizeof key, "%s", path);
    platform::upperCase(key, static_cast<unsigned long>(std::strlen(key)));
    const std::size_t line = list.find(reinterpret_cast<const unsigned char*>(key), first, last);
    // A second name that gives the same one, as Windows' best-fit mapping can.
    if (line == last || list.matched[line] || item.otherStream) {
      return refuse(SEAL_EXTRA_MESSAGE, sourceRoot, path);
    }
    list.matched[line] = true;
    if (item.digestRead != DigestRead::READ) {
      return refuse(SEAL_UNREADABLE_MESSAGE, sourceRoot, path);
    }
    if (!list.holds(line, item.digest)) return refuse(SEAL_CHANGED_MESSAGE, sourceRoot, path);
    return GO_ON;
  }

  RunOutcome checkTree(const PayloadTree& tree, unsigned char number,
                       const PayloadListing& listing) {
    platform::FileFacts facts;
    if (platform::fileFacts(tree.source, &facts) &&
        isNameSurrogate(tree.source, facts.attributes)) {
      return refuse(SEAL_LINK_MESSAGE, sourceRoot, tree.source);
    }
    findLines(tree.source);
    for (std::size_t i = 0; i < listing.count; ++i) {
      const PayloadItem& item = listing.items[i];
      if (item.tree != number) continue;
      const char* path = listing.sourceOf(item);
      if (isNameSurrogate(path, item.attributes))
        return refuse(SEAL_LINK_MESSAGE, sourceRoot, path);
      if (item.isFolder || !item.copied) continue;
      const RunOutcome outcome = checkFile(item, path);
      if (outcome.stop) return outcome;
    }
    for (std::size_t line = first; line < last; ++line) {
      if (list.matched[line]) continue;
      ComposedText path;
      const unsigned char* listed = list.path(line);
      std::size_t length = 0;
      while (listed[length] != '\r') path[length] = static_cast<char>(listed[length]), ++length;
      path[length] = '\0';
      return refuse(SEAL_MISSING_MESSAGE, sourceRoot, path);
    }
    return GO_ON;
  }
};

}  // namespace

ReleaseSeal::~ReleaseSeal() {
  if (digester != nullptr) platform::closeDigester(digester);
}

RunOutcome openSeal(ReleaseSeal* seal) {
  if (!platform::releaseSeal(seal->listDigest)) return GO_ON;
  platform::DigesterHandle digester = nullptr;
  if (!platform::openDigester(&digester)) return stopRun(SEAL_NO_SHA256_MESSAGE);
  seal->digester = digester;
  return GO_ON;
}

RunOutcome checkSealedTrees(const ReleaseSeal& seal, const char* sourceRoot,
                            const PayloadTrees& trees, const PayloadListing& listing) {
  if (seal.digester == nullptr) return GO_ON;
  SealList list;
  ComposedText path;
  (void)std::snprintf(path, sizeof path, "%s%s", sourceRoot, SEAL_LIST_NAME);
  if (!readList(seal, path, &list)) return stopRunNaming(SEAL_LIST_MESSAGE, path);
  TreeCheck check{list, sourceRoot};
  for (unsigned char number = 0; number < 3; ++number) {
    const RunOutcome outcome = check.checkTree(trees[number], number, listing);
    if (outcome.stop) return outcome;
  }
  return GO_ON;
}

RunOutcome checkInstalledBytes(const ReleaseSeal& seal, const PayloadListing& listing) {
  if (seal.digester == nullptr) return GO_ON;
  for (std::size_t i = 0; i < listing.count; ++i) {
    const PayloadItem& item = listing.items[i];
    if (item.isFolder) continue;
    platform::FileReading reading;
    reading.digester = seal.digester;
    const char* destination = listing.destinationOf(item);
    if (platform::readFile(destination, &reading) != platform::FileRead::READ ||
        std::memcmp(reading.digest, item.digest, DIGEST_SIZE) != 0) {
      return stopRunNaming(SEAL_INSTALLED_MESSAGE, destination, EXIT_INCOMPLETE);
    }
  }
  return GO_ON;
}
