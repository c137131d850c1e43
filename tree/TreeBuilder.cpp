#include "tree/TreeBuilder.h"

#include <algorithm>
#include <deque>
#include <map>
#include <unordered_set>
#include <utility>
#include <vector>

#include "platform/Utf16.h"
#include "tree/DetailTable.h"

namespace sorvel {
namespace {

// Keys longer than any path a host could create are not walked: on a hostile archive they would
// make the keys of a deep tree grow without bound.
constexpr std::size_t kMaxPathUnits = 32767;

// All keys together hold at most this many units, plus so many per byte of the archive file.
// An archive spends at least 96 bytes of directory on each item, so only paths averaging
// hundreds of units come near; a hostile one, whose every item sits below a path of 32767 units,
// would otherwise turn each byte into hundreds of bytes of keys. (A key is an item's path, with
// a backslash after a folder's; the tree holds no keys, but the bound on their units stays the
// bound on the tree.)
constexpr std::uint64_t kKeyUnitsBase = std::uint64_t{16} << 20;
constexpr std::uint64_t kKeyUnitsPerArchiveByte = 8;

bool holdsSurrogates(std::u16string_view name) {
  return std::any_of(name.begin(), name.end(), [](char16_t unit) { return unit >= 0xD800 && unit <= 0xDFFF; });
}

// A name as it is written: an unpaired surrogate becomes U+FFFD.
std::u16string writtenName(std::u16string_view name) {
  return holdsSurrogates(name) ? toUtf16(toUtf8Lossy(name)) : std::u16string(name);
}

// What becomes of each item of a directory read into the tree.
enum : std::uint8_t { kSkipped, kWaiting, kPlaced, kRefused };

// Places the waiting items of a directory whose names hold unpaired surrogates: of names alike
// once written, the first in the order of keys keeps the name and the others are refused.
void settleWrittenNames(const ParsedDirectory& directory, std::vector<std::uint8_t>& state,
                        const std::u16string& folderPath, std::vector<LeftOutItem>& nameTaken) {
  std::vector<std::size_t> order;
  for (std::size_t i = 0; i < directory.size(); ++i) {
    if (state[i] == kWaiting) order.push_back(i);
  }
  auto keyOf = [&](std::size_t i) {
    std::u16string key(directory.name(i));
    if (directory.items[i].record.isFolder()) key += u'\\';
    return key;
  };
  std::stable_sort(order.begin(), order.end(),
                   [&](std::size_t a, std::size_t b) { return compareNames(keyOf(a), keyOf(b)) < 0; });
  std::map<std::u16string, std::u16string> writtenNames;  // written name -> path of its holder
  for (std::size_t i : order) {
    const std::u16string_view leaf = directory.name(i);
    const std::u16string written = writtenName(leaf);
    std::u16string namesake;
    if (auto same = writtenNames.find(written); same != writtenNames.end()) {
      namesake = same->second;
    } else if (written != leaf) {
      const auto plain = std::lower_bound(directory.items.begin(), directory.items.end(), written,
                                          [&](const DirectoryItem& item, const std::u16string& key) {
                                            return compareNames(directory.name(item), key) < 0;
                                          });
      if (plain != directory.items.end() && directory.name(*plain) == written &&
          state[static_cast<std::size_t>(plain - directory.items.begin())] == kPlaced) {
        namesake = folderPath + std::u16string(directory.name(*plain));
      }
    }
    if (!namesake.empty()) {
      if (compareNames(leaf, kDetailFileName) != 0) {
        nameTaken.push_back({LeftOutItem::Why::SameName, folderPath + std::u16string(leaf), namesake, folderPath});
      }
      state[i] = kRefused;
      continue;
    }
    if (written != leaf) writtenNames.emplace(written, folderPath + std::u16string(leaf));
    state[i] = kPlaced;
  }
}

// A folder whose directory waits to be read: its node, or, for one that has no place in the
// tree, its key (whose items are read only for their blocks and the bounds).
struct PendingFolder {
  std::uint32_t block;
  NodeIndex node;
  std::size_t keyLength;  // of its key: its path and a backslash
  std::u16string detachedKey;
};

// What the bounds on keys let into the tree of one directory's items, in name order, as far as
// they go: each admitted item's state becomes kWaiting, empty names are only counted, and a name
// that holds a backslash stops the build by folders.
struct Admission {
  bool backslash = false;      // a name holds one: the build goes by paths
  bool cut = false;            // the bounds ended the folder early
  std::size_t emptyNames = 0;  // left out, each reported with its folder's key
};
Admission admitItems(const ParsedDirectory& directory, std::size_t keyLength, std::uint64_t& keyUnitsLeft,
                     std::vector<std::uint8_t>& state) {
  Admission admitted;
  state.assign(directory.size(), kSkipped);
  for (std::size_t i = 0; i < directory.size(); ++i) {
    const std::u16string_view name = directory.name(i);
    if (keyLength + name.size() + 1 > keyUnitsLeft) {  // the rest of this folder is left out
      admitted.cut = true;
      break;
    }
    keyUnitsLeft -= keyLength + name.size() + 1;
    if (name.empty()) {
      ++admitted.emptyNames;
      continue;
    }
    if (name.find(u'\\') != std::u16string::npos) {
      admitted.backslash = true;
      return admitted;
    }
    state[i] = kWaiting;
  }
  return admitted;
}

// Appends the items placed to the folder's node, in name order, and queues the folders among
// them and those refused in the same order. False when the tree could number no more nodes:
// the rest of the folder is left out.
template <class KeyOf>
bool placeItems(FolderTree& tree, const PendingFolder& folder, const ParsedDirectory& directory,
                const std::vector<std::uint8_t>& state, std::deque<PendingFolder>& queue, const KeyOf& keyOf) {
  for (std::size_t i = 0; i < directory.size(); ++i) {
    if (state[i] == kSkipped) continue;
    const DirectoryItem& item = directory.items[i];
    const std::u16string_view itemName = directory.name(item);
    NodeIndex node = kNoNode;
    if (state[i] == kPlaced) {
      node = tree.appendChild(folder.node, itemName, item.record);
      if (node == kNoNode) return false;
    }
    if (!item.record.isFolder()) continue;
    const std::size_t keyLength = folder.keyLength + itemName.size() + 1;
    if (keyLength > kMaxPathUnits) {
      if (node != kNoNode) tree.markDamaged(node);
      continue;
    }
    queue.push_back(PendingFolder{item.record.firstBlock(), node, keyLength,
                                  node == kNoNode ? keyOf() + std::u16string(itemName) + u'\\' : std::u16string()});
  }
  return true;
}

// The folders of the tree as the map of every item's path fills them, before they are laid out.
class DraftTree {
 public:
  struct Node {
    std::u16string name;
    ItemRecord record;
    bool damaged = false;
    NameMap<std::size_t> children;
  };

  DraftTree() : nodes_(1) {}

  Node& node(std::size_t index) { return nodes_[index]; }
  // As FolderTree::findNode; kNoDraft when there is no such node.
  std::size_t find(std::u16string_view path) const {
    std::size_t at = 0;
    const bool complete = forEachComponent(path, [&](std::u16string_view component) {
      if (!nodes_[at].record.isFolder() && at != 0) return false;
      auto it = nodes_[at].children.find(component);
      if (it == nodes_[at].children.end()) return false;
      at = it->second;
      return true;
    });
    return complete ? at : kNoDraft;
  }
  // The folder that would hold `path` and the leaf name; (0, "") for the root; (kNoDraft, "")
  // when a folder on the way is missing or is a file.
  std::pair<std::size_t, std::u16string> findParentFolder(std::u16string_view path) const {
    std::size_t folder = 0;
    std::u16string_view pending;
    const bool walked = forEachComponent(path, [&](std::u16string_view component) {
      if (!pending.empty()) {
        auto it = nodes_[folder].children.find(pending);
        if (it == nodes_[folder].children.end() || !nodes_[it->second].record.isFolder()) return false;
        folder = it->second;
      }
      pending = component;
      return true;
    });
    if (!walked) return {kNoDraft, std::u16string()};
    return {folder, std::u16string(pending)};
  }
  void add(std::size_t folder, std::u16string leaf, const ItemRecord& record) {
    nodes_.push_back(Node{leaf, record, false, {}});
    nodes_[folder].children.emplace(std::move(leaf), nodes_.size() - 1);
  }
  // Into `tree`, folder by folder; the draft is emptied on the way.
  void layOut(FolderTree& tree) {
    std::deque<std::pair<std::size_t, NodeIndex>> queue{{0, kTreeRoot}};
    if (nodes_[0].damaged) tree.markDamaged(kTreeRoot);
    while (!queue.empty()) {
      const auto [draft, node] = queue.front();
      queue.pop_front();
      for (const auto& [name, child] : nodes_[draft].children) {
        const NodeIndex added = tree.appendChild(node, nodes_[child].name, nodes_[child].record);
        if (added == kNoNode) break;
        if (nodes_[child].damaged) tree.markDamaged(added);
        if (nodes_[child].record.isFolder()) queue.emplace_back(child, added);
      }
      NameMap<std::size_t>().swap(nodes_[draft].children);
    }
  }

  static constexpr std::size_t kNoDraft = SIZE_MAX;

 private:
  std::vector<Node> nodes_;
};

}  // namespace

struct PathItem {
  ItemRecord record;
  std::size_t nameLength;  // the stored name's units at the end of its path
};

DirectoryRead TreeBuilder::readDirectory(std::uint32_t firstBlock, ParsedDirectory& out) {
  out.clear();
  // A directory ends where its chain runs into blocks another directory holds: directories that
  // share blocks would each read the others' items again, and a few blocks chained into one
  // another could stand for a tree that grows with the square of their number.
  ChainSource::Directory directory = chains_.openDirectory(firstBlock);
  if (directory.bytes == nullptr) return directory.cut ? DirectoryRead::Shared : DirectoryRead::Unreadable;
  lastError_ = kErrorSuccess;
  if (parseDirectory(*directory.bytes, out)) return directory.cut ? DirectoryRead::Shared : DirectoryRead::Complete;
  lastError_ = kErrorMalformedDirectory;
  return DirectoryRead::Malformed;
}

bool TreeBuilder::buildByFolders(FolderTree& tree) {
  // A directory chain is read once: a folder that leads back to a chain already read (its own
  // parent, say) would otherwise make the walk endless.
  std::unordered_set<std::uint32_t> chainsRead;
  chains_.startTree();
  std::uint64_t keyUnitsLeft = kKeyUnitsBase + kKeyUnitsPerArchiveByte * chains_.archiveSize();
  std::deque<PendingFolder> queue;
  queue.push_back(PendingFolder{kRootDirectoryBlock, kTreeRoot, 1, {}});
  // Items left out because a name is taken come after those left out while reading, as a
  // build from every item's path would tell them.
  std::vector<LeftOutItem> leftOut;
  std::vector<LeftOutItem> nameTaken;
  ParsedDirectory directory;
  std::vector<std::uint8_t> state;  // per item of the directory
  while (!queue.empty()) {
    PendingFolder folder = std::move(queue.front());
    queue.pop_front();
    const bool inTree = folder.node != kNoNode;
    auto keyOf = [&] {
      if (!inTree) return folder.detachedKey;
      return folder.node == kTreeRoot ? std::u16string(kRootPath) : tree.pathOf(folder.node) + u'\\';
    };
    auto markDamaged = [&] {
      if (inTree) tree.markDamaged(folder.node);
    };
    if (chainsRead.contains(folder.block)) {
      markDamaged();
      continue;
    }
    const DirectoryRead result = readDirectory(folder.block, directory);
    if (result != DirectoryRead::Unreadable) chainsRead.insert(folder.block);
    if (result == DirectoryRead::Malformed || result == DirectoryRead::Shared) markDamaged();

    const Admission admitted = admitItems(directory, folder.keyLength, keyUnitsLeft, state);
    if (admitted.backslash) return false;
    if (admitted.cut) markDamaged();
    for (std::size_t i = 0; i < admitted.emptyNames; ++i) {  // the key of each would be its folder's own
      const std::u16string key = keyOf();
      leftOut.push_back({LeftOutItem::Why::UnsafeName, key, {}, key});
    }

    // Names alike once written (an unpaired surrogate becomes U+FFFD): the first in the order of
    // keys (a folder's name followed by a backslash) keeps the name.
    const bool surrogates = std::any_of(directory.items.begin(), directory.items.end(), [&](const DirectoryItem& item) {
      return holdsSurrogates(directory.name(item));
    });
    for (std::size_t i = 0; i < directory.size(); ++i) {
      if (state[i] != kWaiting) continue;
      if (!inTree) {
        state[i] = kRefused;  // below a folder left out: read on for the blocks alone
      } else if (!surrogates) {
        state[i] = kPlaced;
      }
    }
    if (surrogates && inTree) settleWrittenNames(directory, state, keyOf(), nameTaken);
    if (!placeItems(tree, folder, directory, state, queue, keyOf)) markDamaged();
  }
  leftOut.insert(leftOut.end(), std::make_move_iterator(nameTaken.begin()), std::make_move_iterator(nameTaken.end()));
  tree.finish();  // before nodes are pointed at
  tree.setLeftOut(std::move(leftOut));
  return true;
}

void TreeBuilder::buildPathMap(NameMap<PathItem>& out, NameMap<bool>& damagedFolders,
                               std::vector<LeftOutItem>& leftOut) {
  out.clear();
  damagedFolders.clear();
  std::unordered_set<std::uint32_t> chainsRead;
  chains_.startTree();
  std::uint64_t keyUnitsLeft = kKeyUnitsBase + kKeyUnitsPerArchiveByte * chains_.archiveSize();
  std::deque<std::pair<std::uint32_t, std::u16string>> queue;
  queue.emplace_back(kRootDirectoryBlock, kRootPath);
  ParsedDirectory directory;
  while (!queue.empty()) {
    auto [block, path] = std::move(queue.front());
    queue.pop_front();
    if (chainsRead.contains(block)) {
      insertOrReplace(damagedFolders, path, true);
      continue;
    }
    const DirectoryRead result = readDirectory(block, directory);
    if (result != DirectoryRead::Unreadable) chainsRead.insert(block);
    if (result == DirectoryRead::Malformed || result == DirectoryRead::Shared)
      insertOrReplace(damagedFolders, path, true);

    for (const DirectoryItem& item : directory.items) {
      const std::u16string name(directory.name(item));
      const ItemRecord& record = item.record;
      if (path.size() + name.size() + 1 > keyUnitsLeft) {  // the rest of this folder is left out
        insertOrReplace(damagedFolders, path, true);
        break;
      }
      keyUnitsLeft -= path.size() + name.size() + 1;
      if (name.empty()) {  // its key would be its folder's own
        leftOut.push_back({LeftOutItem::Why::UnsafeName, path, {}, path});
        continue;
      }
      std::u16string key = path + name;
      if (record.isFolder()) key.push_back(u'\\');
      // A name holding a backslash can spell the key of an item read before. (Within one
      // directory, names alike but for ASCII letter case are one item, spelled as the first with
      // the last one's record: that is how such archives have always come out.)
      if (auto held = out.find(key); held != out.end()) {
        if (compareNames(leafName(path + name), kDetailFileName) != 0) {
          leftOut.push_back({LeftOutItem::Why::SameName, path + name, stripTrailingSeparators(held->first), path});
        }
        continue;
      }
      if (record.isFolder()) {
        if (key.size() > kMaxPathUnits) {
          insertOrReplace(damagedFolders, key, true);
        } else {
          queue.emplace_back(record.firstBlock(), key);
        }
      }
      out.emplace(std::move(key), PathItem{record, name.size()});
    }
  }
}

void TreeBuilder::buildByPaths(FolderTree& tree) {
  tree.clearTree();
  NameMap<PathItem> items;
  NameMap<bool> damagedFolders;
  std::vector<LeftOutItem> leftOut;
  buildPathMap(items, damagedFolders, leftOut);
  DraftTree draft;
  // Names that hold an unpaired surrogate, by folder, as they are written: with U+FFFD.
  std::map<std::pair<std::size_t, std::u16string>, std::u16string> writtenNames;
  for (const auto& [key, item] : items) {
    const ItemRecord& record = item.record;
    const std::u16string path = record.isFolder() ? key.substr(0, key.size() - 1) : key;
    const auto [folder, leaf] = draft.findParentFolder(path);
    if (folder == DraftTree::kNoDraft) {
      // A stored name with a backslash may point into a folder that is not there. Anything
      // else is below a folder left out, and goes with it.
      const std::u16string_view name = std::u16string_view(path).substr(path.size() - item.nameLength);
      if (name.find(u'\\') != std::u16string::npos) {
        leftOut.push_back({LeftOutItem::Why::UnsafeName, path, {}, path.substr(0, path.size() - name.size())});
      }
      continue;
    }
    std::u16string_view named = path;  // without the backslashes a stored name may end with
    while (!named.empty() && named.back() == u'\\') named.remove_suffix(1);
    if (leaf.empty()) {  // a name of backslashes alone
      leftOut.push_back({LeftOutItem::Why::UnsafeName, path, {}, std::u16string(named)});
      continue;
    }
    const std::u16string folderPath(named.substr(0, named.size() - leaf.size()));
    const std::u16string written = writtenName(leaf);
    const NameMap<std::size_t>& children = draft.node(folder).children;
    std::u16string namesake;
    if (auto held = children.find(leaf); held != children.end()) {
      namesake = folderPath + draft.node(held->second).name;
    } else if (auto same = writtenNames.find({folder, written}); same != writtenNames.end()) {
      namesake = same->second;
    } else if (written != leaf) {
      if (auto plain = children.find(written); plain != children.end() && draft.node(plain->second).name == written) {
        namesake = folderPath + draft.node(plain->second).name;
      }
    }
    if (!namesake.empty()) {
      if (compareNames(leaf, kDetailFileName) != 0) {
        leftOut.push_back({LeftOutItem::Why::SameName, path, namesake, folderPath});
      }
      continue;
    }
    if (written != leaf) writtenNames.emplace(std::make_pair(folder, written), path);
    draft.add(folder, leaf, record);
  }
  items.clear();
  for (const auto& [key, damaged] : damagedFolders) {
    const std::size_t node = draft.find(key);
    if (node != DraftTree::kNoDraft && (node == 0 || draft.node(node).record.isFolder()))
      draft.node(node).damaged = true;
  }
  draft.layOut(tree);
  tree.finish();  // before nodes are pointed at
  tree.setLeftOut(std::move(leftOut));
}

void TreeBuilder::build(FolderTree& tree) {
  tree.clearTree();
  if (!buildByFolders(tree)) {
    tree.clearTree();
    buildByPaths(tree);
  }
}

}  // namespace sorvel
