#include "app/ItemSelection.h"

#include <algorithm>
#include <unordered_set>
#include <utility>

#include "platform/Utf16.h"
#include "tree/DetailTable.h"
#include "tree/FolderTree.h"
#include "tree/NameRules.h"

namespace sorvel {
namespace {

// Item detail files are never listed, so no pattern chooses one.
bool isDetailFile(const FolderTree& tree, const TreeNode& node) {
  return compareNames(tree.nameOf(node), kDetailFileName) == 0;
}

// The nodes from the root down to `node`: in listing order, one item comes before another when
// its chain is less (siblings are numbered in name order), and a folder just before its contents.
std::vector<NodeIndex> chainTo(const FolderTree& tree, NodeIndex node) {
  std::vector<NodeIndex> chain;
  for (; node != kNoNode; node = tree.node(node).parent) chain.push_back(node);
  std::reverse(chain.begin(), chain.end());
  return chain;
}

std::u16string_view withoutLeadingSeparators(std::u16string_view path) {
  while (!path.empty() && path.front() == u'\\') path.remove_prefix(1);
  return path;
}

}  // namespace

std::u16string inArchivePath(std::string_view userPath) {
  std::u16string path = toUtf16(userPath);
  std::replace(path.begin(), path.end(), u'/', u'\\');
  std::u16string joined;
  forEachComponent(path, [&joined](std::u16string_view name) {
    joined += u'\\';
    joined += name;
    return true;
  });
  return joined.empty() ? std::u16string(kRootPath) : joined;
}

ItemSelection::ItemSelection(const Archive& archive, const SelectionRequest& request)
    : archive_(archive), separators_(request.separators) {
  for (const std::string& exclude : request.excludes) {
    const bool anchored = !exclude.empty() && (exclude.front() == '/' || exclude.front() == '\\');
    exclusions_.push_back(Exclusion{std::u16string(withoutLeadingSeparators(inArchivePath(exclude))), anchored});
  }

  const FolderTree& tree = archive.tree();
  std::vector<std::vector<std::vector<NodeIndex>>> named;  // per operand, the chains of its items
  if (request.operands.empty()) named.push_back({chainTo(tree, kTreeRoot)});
  for (const std::string& operand : request.operands) {
    std::vector<std::vector<NodeIndex>> chains;
    for (const NodeIndex node : nodesNamedBy(inArchivePath(operand))) chains.push_back(chainTo(tree, node));
    if (chains.empty()) unmatched_.push_back(operand);
    std::sort(chains.begin(), chains.end());
    named.push_back(std::move(chains));
  }
  if (request.order == SelectionRequest::Order::Listing) {
    std::vector<std::vector<NodeIndex>> all;
    for (auto& chains : named) std::move(chains.begin(), chains.end(), std::back_inserter(all));
    std::sort(all.begin(), all.end());
    named.assign(1, std::move(all));
  }

  // An item is left to the one chosen before it that it is, or lies below.
  std::unordered_set<NodeIndex> chosen;
  for (const auto& chains : named) {
    for (const std::vector<NodeIndex>& chain : chains) {
      if (std::any_of(chain.begin(), chain.end(), [&](NodeIndex node) { return chosen.contains(node); })) continue;
      chosen.insert(chain.back());
      std::u16string path = tree.pathOf(chain.back());
      if (!excludedWithFolders(path)) starts_.push_back(std::move(path));
    }
  }
}

std::vector<NodeIndex> ItemSelection::nodesNamedBy(std::u16string_view path) const {
  const FolderTree& tree = archive_.tree();
  std::vector<NodeIndex> nodes;
  if (const TreeNode* exact = tree.findNode(path)) nodes.push_back(tree.indexOf(*exact));
  if (!hasWildcards(path)) return nodes;

  const NodeIndex exact = nodes.empty() ? kNoNode : nodes.front();
  auto add = [&nodes, exact](NodeIndex node) {
    if (node != exact) nodes.push_back(node);
  };
  if (separators_ == Separators::Kept) {
    // Name by name: a folder is gone into only when its name matches the pattern's at its depth.
    const std::vector<std::u16string> names = splitPath(path);
    std::vector<std::pair<NodeIndex, std::size_t>> open{{kTreeRoot, 0}};  // a folder and its depth
    while (!open.empty()) {
      const auto [folder, depth] = open.back();
      open.pop_back();
      for (const TreeNode& child : tree.children(tree.node(folder))) {
        if (isDetailFile(tree, child) || !matchesPattern(names[depth], tree.nameOf(child), separators_)) continue;
        if (depth + 1 == names.size()) {
          add(tree.indexOf(child));
        } else if (child.isFolder()) {
          open.emplace_back(tree.indexOf(child), depth + 1);
        }
      }
    }
    return nodes;
  }
  const std::u16string_view pattern = withoutLeadingSeparators(path);
  walkBelow(tree, kTreeRoot, kRootPath, PathJoin::AsPrefix, [&](const WalkedItem& item) {
    if (isDetailFile(tree, item.node)) return false;
    if (!matchesPattern(pattern, withoutLeadingSeparators(item.path), separators_)) return true;
    add(item.index);
    return false;  // everything below comes with it
  });
  return nodes;
}

bool ItemSelection::excludes(std::u16string_view path) const {
  path = withoutLeadingSeparators(path);
  if (path.empty()) return false;  // the root is never excluded; what it holds may be
  for (const Exclusion& exclusion : exclusions_) {
    if (matchesPattern(exclusion.pattern, path, separators_)) return true;
    if (exclusion.anchored) continue;
    for (std::size_t at = path.find(u'\\'); at != std::u16string_view::npos; at = path.find(u'\\', at + 1)) {
      if (matchesPattern(exclusion.pattern, path.substr(at + 1), separators_)) return true;
    }
  }
  return false;
}

bool ItemSelection::excludedWithFolders(std::u16string_view path) const {
  for (std::size_t end = path.size(); end > 0 && end != std::u16string_view::npos; end = path.rfind(u'\\', end - 1)) {
    if (excludes(path.substr(0, end))) return true;
  }
  return false;
}

OutputPlan ItemSelection::plan(std::size_t index) const {
  if (exclusions_.empty()) return OutputPlan(archive_, starts_[index]);
  return OutputPlan(archive_, starts_[index], [this](std::u16string_view path) { return excludes(path); });
}

ItemSelection::Totals ItemSelection::totals() const {
  const FolderTree& tree = archive_.tree();
  Totals totals;
  auto count = [&totals](const TreeNode& node) {
    ++totals.items;
    if (!node.isFolder()) totals.bytes += node.record.size();
  };
  for (const std::u16string& start : starts_) {
    const TreeNode* first = tree.findNode(start);
    if (first == nullptr) continue;
    count(*first);
    walkBelow(tree, tree.indexOf(*first), start, PathJoin::AsPrefix, [&](const WalkedItem& item) {
      if (isDetailFile(tree, item.node) || excludes(item.path)) return false;
      count(item.node);
      return true;
    });
  }
  return totals;
}

}  // namespace sorvel
