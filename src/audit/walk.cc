// SPDX-License-Identifier: Apache-2.0
// The audit's walk of a directory tree: each directory opened relative to the one above it, each
// log handed out open.
#include "glps/audit_walk.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <deque>
#include <map>
#include <set>
#include <utility>

#include "audit/log_directory_access.h"
#include "filemanager/record_set.h"
#include "glps/host/services.h"
#include "platform/platform.h"

namespace {

namespace platform = glps::platform;
using platform::FileFacts;

// The text of the documents' name prefix ("GLP-Log"), followed by '-' in every document's name.
const unsigned kTextLogName = 18630;
// Levels of the walk whose directories stay open, the root's aside; the others are opened again
// through ".." when the walk comes back to them.
const std::size_t kOpenLevels = 64;

bool EndsWith(const std::string& text, const char* end) {
  const std::size_t size = std::strlen(end);
  return text.size() >= size && text.compare(text.size() - size, size, end) == 0;
}

std::string Reason(int error) { return std::strerror(error); }

}  // namespace

// --- KECGlpsAuditLogDirectory --------------------------------------------------------------------

KECGlpsAuditLogDirectory::KECGlpsAuditLogDirectory() = default;
KECGlpsAuditLogDirectory::~KECGlpsAuditLogDirectory() = default;
KECGlpsAuditLogDirectory::KECGlpsAuditLogDirectory(const KECGlpsAuditLogDirectory&) = default;
KECGlpsAuditLogDirectory& KECGlpsAuditLogDirectory::operator=(const KECGlpsAuditLogDirectory&) =
    default;
KECGlpsAuditLogDirectory::KECGlpsAuditLogDirectory(std::shared_ptr<const Opened> opened)
    : m_pOpened(std::move(opened)) {}

KECGlpsAuditLogDirectory KECGlpsAuditLogDirectory::Open(const std::string& path,
                                                        std::string* error) {
  int number = 0;
  platform::DirectoryPtr directory = platform::OpenDirectoryIn(nullptr, path, path, true, &number);
  if (!directory->IsOpen()) {
    if (error != nullptr) *error = path + ": " + Reason(number);
    return KECGlpsAuditLogDirectory();
  }
  return KECGlpsAuditLogDirectoryAccess::Make(std::move(directory));
}

bool KECGlpsAuditLogDirectory::IsOpen() const { return m_pOpened != nullptr; }

const std::string& KECGlpsAuditLogDirectory::Path() const {
  static const std::string kNone;
  return m_pOpened ? m_pOpened->directory->Path() : kNone;
}

KECGlpsAuditLogDirectory KECGlpsAuditLogDirectoryAccess::Make(platform::DirectoryPtr directory) {
  if (!directory || !directory->IsOpen()) return KECGlpsAuditLogDirectory();
  auto opened = std::make_shared<KECGlpsAuditLogDirectory::Opened>();
  opened->directory = std::move(directory);
  return KECGlpsAuditLogDirectory(std::move(opened));
}

platform::DirectoryPtr KECGlpsAuditLogDirectoryAccess::Directory(
    const KECGlpsAuditLogDirectory& directory) {
  return directory.m_pOpened ? directory.m_pOpened->directory : nullptr;
}

// --- KECGlpsAuditWalk ----------------------------------------------------------------------------

struct KECGlpsAuditWalk::State {
  // The expected logs as a tree of names; a node per name on the way to each.
  struct Expected {
    std::map<std::string, std::unique_ptr<Expected>> children;
    bool wanted = false;  // an expected log
    bool found = false;   // handed out as a log
    // Reported as a directory that cannot be read.
    bool unreadable = false;
    // What stood under the name instead of a directory, when the walk saw it.
    std::string instead;
  };

  // A directory on the way from the root to the one being walked.
  struct Level {
    std::string name;  // its name in the level above (the root: its path as given)
    // Open for the root and the deepest levels; null for the others while the walk is below them.
    platform::DirectoryPtr directory;
    std::uint64_t device = 0;
    std::uint64_t inode = 0;
    // Its subdirectories (and names of unknown kind), sorted, and the next one to walk.
    std::vector<std::pair<std::string, bool>> subdirectories;  // name, known to be a directory
    std::size_t next = 0;
    std::size_t relativeSize = 0;  // of `relative` before this level's name was appended
    Expected* expected = nullptr;  // its node in the expected logs; null when none is below it
  };

  std::string root;
  std::string documentPrefix;
  Expected expected;
  std::vector<Level> levels;
  // The identities of the levels' directories: a directory met again below itself is not walked.
  std::set<std::pair<std::uint64_t, std::uint64_t>> onTheWay;
  // The path of the deepest level relative to the root.
  std::string relative;
  std::deque<KECGlpsAuditWalkItem> ready;
  bool started = false;
  bool finished = false;

  std::string PathOf(const std::string& rel) const {
    if (rel.empty()) return root;
    return root.empty() || root.back() == '/' ? root + rel : root + "/" + rel;
  }
  std::string Joined(const std::string& name) const {
    return relative.empty() ? name : relative + "/" + name;
  }

  bool LooksLikeLogFile(const std::string& name) const {
    if (name == glps::kLogXmlName || name == glps::kLockFileName || name == glps::kSealFileName ||
        name == glps::kSealKeyFileName || name == glps::kMainPageName ||
        name == glps::kMenuPageName) {
      return true;
    }
    return name.compare(0, documentPrefix.size(), documentPrefix) == 0 &&
           (EndsWith(name, ".html") || EndsWith(name, ".xml"));
  }

  void Add(Glps::EAuditWalkItem kind, const std::string& rel, std::string reason) {
    KECGlpsAuditWalkItem item;
    item.m_eKind = kind;
    item.m_strRelative = rel;
    item.m_strPath = PathOf(rel);
    item.m_strReason = std::move(reason);
    ready.push_back(std::move(item));
  }

  void Unreadable(const std::string& rel, Expected* node, std::string reason) {
    if (node != nullptr) node->unreadable = true;
    Add(Glps::eAuditWalkUnreadable, rel, std::move(reason));
  }

  static Expected* ChildOf(Expected* node, const std::string& name) {
    if (node == nullptr) return nullptr;
    const auto it = node->children.find(name);
    return it == node->children.end() ? nullptr : it->second.get();
  }

  void Start() {
    started = true;
    const std::string prefix = Txts::GetString(kTextLogName);
    documentPrefix = (prefix.empty() ? std::string("GLP-Log") : prefix) + "-";
    int error = 0;
    platform::DirectoryPtr directory = platform::OpenDirectoryIn(nullptr, root, root, true, &error);
    FileFacts facts;
    if (!directory->IsOpen() || !platform::Stat(directory->Handle(), &facts)) {
      Unreadable(std::string(), &expected, Reason(error != 0 ? error : EIO));
      return;
    }
    Level level;
    level.name = root;
    level.directory = std::move(directory);
    level.device = facts.device;
    level.inode = facts.inode;
    level.expected = &expected;
    Enter(std::move(level));
  }

  // Makes `level` the deepest and reads its names: hands it out as a log if it is one.
  void Enter(Level level) {
    std::vector<platform::DirectoryEntry> entries;
    int error = 0;
    if (!platform::ListEntries(*level.directory, &entries, &error)) {
      Unreadable(relative, level.expected, "its listing failed: " + Reason(error));
      relative.resize(level.relativeSize);
      return;
    }
    bool log = level.expected != nullptr && level.expected->wanted;
    for (const platform::DirectoryEntry& entry : entries) {
      log = log || LooksLikeLogFile(entry.name);
      if (entry.kind == FileFacts::Kind::kDirectory || entry.kind == FileFacts::Kind::kUnknown) {
        level.subdirectories.emplace_back(entry.name, entry.kind == FileFacts::Kind::kDirectory);
      } else if (Expected* node = ChildOf(level.expected, entry.name)) {
        node->instead = entry.kind == FileFacts::Kind::kSymbolicLink
                            ? "a symbolic link is there (not followed)"
                            : "a file is there, not a directory";
      }
    }
    std::sort(level.subdirectories.begin(), level.subdirectories.end());
    if (log) {
      if (level.expected != nullptr) level.expected->found = true;
      KECGlpsAuditWalkItem item;
      item.m_eKind = Glps::eAuditWalkLog;
      item.m_strRelative = relative;
      item.m_strPath = PathOf(relative);
      item.m_directory = KECGlpsAuditLogDirectoryAccess::Make(
          platform::DuplicateDirectory(*level.directory, item.m_strPath));
      if (item.m_directory.IsOpen()) {
        ready.push_back(std::move(item));
      } else {
        Unreadable(relative, nullptr, "cannot be held open for its verification");
      }
    }
    onTheWay.emplace(level.device, level.inode);
    levels.push_back(std::move(level));
  }

  // One step: into the deepest level's next subdirectory, or back from it.
  void Step() {
    Level& top = levels.back();
    if (top.next == top.subdirectories.size()) {
      Leave();
      return;
    }
    const auto [name, known] = top.subdirectories[top.next++];
    Expected* const node = ChildOf(top.expected, name);
    const std::string rel = Joined(name);
    int error = 0;
    platform::DirectoryPtr child =
        platform::OpenDirectoryIn(top.directory.get(), name, name, false, &error);
    if (!child->IsOpen()) {
      const bool notDirectory = error == ENOTDIR || error == ELOOP;
      if (!known && (notDirectory || error == ENOENT)) return;  // a file after all
      if (notDirectory && node != nullptr) node->instead = "replaced during the walk";
      Unreadable(rel, node,
                 notDirectory      ? "replaced during the walk by a symbolic link or a file"
                 : error == ENOENT ? "vanished during the walk"
                                   : Reason(error));
      return;
    }
    FileFacts facts;
    if (!platform::Stat(child->Handle(), &facts)) {
      Unreadable(rel, node, "cannot be examined");
      return;
    }
    if (onTheWay.count({facts.device, facts.inode}) != 0) {
      Unreadable(rel, node,
                 "the directory is one of those above it (a file system mounted within itself): "
                 "not walked again");
      return;
    }
    // The root and the deepest levels keep their directories open.
    if (levels.size() >= kOpenLevels) levels[levels.size() - kOpenLevels + 1].directory.reset();
    Level level;
    level.name = name;
    level.directory = std::move(child);
    level.device = facts.device;
    level.inode = facts.inode;
    level.relativeSize = relative.size();
    level.expected = node;
    relative = rel;
    Enter(std::move(level));
  }

  // Done with the deepest level: back to the one above, opening it again when it was closed.
  void Leave() {
    Level done = std::move(levels.back());
    levels.pop_back();
    onTheWay.erase({done.device, done.inode});
    relative.resize(done.relativeSize);
    if (levels.empty() || levels.back().directory) return;
    Level& above = levels.back();
    int error = 0;
    platform::DirectoryPtr parent =
        platform::OpenDirectoryIn(done.directory.get(), "..", above.name, false, &error);
    if (IsLevel(*parent, above)) {
      above.directory = std::move(parent);
      return;
    }
    Reopen();
  }

  static bool IsLevel(const platform::Directory& directory, const Level& level) {
    FileFacts facts;
    return directory.IsOpen() && platform::Stat(directory.Handle(), &facts) &&
           facts.device == level.device && facts.inode == level.inode;
  }

  // The deepest level was moved while the walk was below it: opened again from the nearest open
  // level above, name by name. A level that is no longer where it was is reported, and what the
  // walk had not yet read of it is left.
  void Reopen() {
    std::size_t open = levels.size() - 1;
    while (!levels[open].directory) --open;  // the root is open
    platform::DirectoryPtr directory = levels[open].directory;
    std::string rel = relative.substr(0, levels[open + 1].relativeSize);
    for (std::size_t k = open + 1; k < levels.size(); ++k) {
      const Level& level = levels[k];
      rel = rel.empty() ? level.name : rel + "/" + level.name;
      platform::DirectoryPtr next =
          platform::OpenDirectoryIn(directory.get(), level.name, level.name, false, nullptr);
      if (!IsLevel(*next, level)) {
        Unreadable(rel, level.expected,
                   "moved or replaced during the walk: what the walk had not read of it is not "
                   "verified");
        for (std::size_t gone = k; gone < levels.size(); ++gone) {
          onTheWay.erase({levels[gone].device, levels[gone].inode});
        }
        relative.resize(level.relativeSize);
        levels.resize(k);
        levels.back().directory = std::move(directory);
        return;
      }
      directory = std::move(next);
    }
    levels.back().directory = std::move(directory);
  }

  // Hands out the expected logs that were not found, in the order of their paths.
  void Finish() {
    struct Visit {
      const Expected* node;
      std::map<std::string, std::unique_ptr<Expected>>::const_iterator next;
      std::size_t relativeSize;  // of `rel` before the node's name
    };
    std::string rel;
    // The path of the highest directory on the way that could not be read; empty when none.
    std::string unreadableAbove;
    std::size_t unreadableDepth = 0;
    std::vector<Visit> way = {{&expected, expected.children.begin(), 0}};
    Missing(expected, rel, unreadableAbove);
    if (expected.unreadable) {
      unreadableAbove = PathOf(rel);
      unreadableDepth = 1;
    }
    while (!way.empty()) {
      Visit& visit = way.back();
      if (visit.next == visit.node->children.end()) {
        rel.resize(visit.relativeSize);
        if (unreadableDepth == way.size()) unreadableAbove.clear();
        way.pop_back();
        continue;
      }
      const auto& [name, child] = *visit.next++;
      const std::size_t size = rel.size();
      rel = rel.empty() ? name : rel + "/" + name;
      Missing(*child, rel, unreadableAbove);
      way.push_back({child.get(), child->children.begin(), size});
      if (child->unreadable && unreadableAbove.empty()) {
        unreadableAbove = PathOf(rel);
        unreadableDepth = way.size();
      }
    }
  }

  void Missing(const Expected& node, const std::string& rel, const std::string& unreadableAbove) {
    if (!node.wanted || node.found || node.unreadable) return;
    Add(Glps::eAuditWalkMissing, rel,
        !unreadableAbove.empty() ? "not found: " + unreadableAbove + " cannot be read"
        : !node.instead.empty()  ? "not found: " + node.instead
                                 : "not found");
  }

  ~State() {
    // The expected logs' tree is taken apart without recursion, however deep a path was.
    std::vector<std::unique_ptr<Expected>> parts;
    for (auto& child : expected.children) parts.push_back(std::move(child.second));
    while (!parts.empty()) {
      std::unique_ptr<Expected> part = std::move(parts.back());
      parts.pop_back();
      for (auto& child : part->children) parts.push_back(std::move(child.second));
    }
  }
};

KECGlpsAuditWalk::KECGlpsAuditWalk(const std::string& root,
                                   const std::vector<std::string>& expected)
    : m_pState(new State()) {
  m_pState->root = root;
  while (m_pState->root.size() > 1 && m_pState->root.back() == '/') m_pState->root.pop_back();
  for (const std::string& path : expected) {
    State::Expected* node = &m_pState->expected;
    std::size_t start = 0;
    while (start <= path.size()) {
      std::size_t end = path.find('/', start);
      if (end == std::string::npos) end = path.size();
      const std::string name = path.substr(start, end - start);
      if (!name.empty() && name != ".") {
        std::unique_ptr<State::Expected>& child = node->children[name];
        if (!child) child.reset(new State::Expected());
        node = child.get();
      }
      start = end + 1;
    }
    node->wanted = true;
  }
}

KECGlpsAuditWalk::~KECGlpsAuditWalk() = default;

bool KECGlpsAuditWalk::Next(KECGlpsAuditWalkItem* item) {
  State& state = *m_pState;
  if (!state.started) state.Start();
  while (state.ready.empty()) {
    if (!state.levels.empty()) {
      state.Step();
    } else if (!state.finished) {
      state.finished = true;
      state.Finish();
    } else {
      return false;
    }
  }
  *item = std::move(state.ready.front());
  state.ready.pop_front();
  return true;
}
