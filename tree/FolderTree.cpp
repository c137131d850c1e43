#include "tree/FolderTree.h"

#include <vector>

namespace sorvel {
namespace {

std::unique_ptr<SvFolder> createRoot() {
  auto root = std::make_unique<SvFolder>();
  root->name.assign(1, kRootPath[0]);
  root->record.entry.raw[kAttributesOffset] = kFolderAttribute;
  storeU16(root->record.entry.raw.data() + kFirstBlockLowOffset, kRootDirectoryBlock);
  return root;
}

}  // namespace

FolderTree::FolderTree() : root_(createRoot()) {}

FolderTree::~FolderTree() { clearTree(); }

bool FolderTree::addFolder(std::u16string_view path, const ItemRecord& record) {
  SvFolder* folder = root_.get();
  return forEachComponent(path, [&](std::u16string_view component) {
    auto it = folder->children.find(component);
    if (it == folder->children.end()) {
      auto created = std::make_unique<SvFolder>();
      created->name = component;
      created->record = record;
      SvFolder* next = created.get();
      folder->children.emplace(std::u16string(component), std::move(created));
      folder = next;
      return true;
    }
    if (!it->second->isFolder()) return false;
    folder = static_cast<SvFolder*>(it->second.get());
    return true;
  });
}

bool FolderTree::addFile(std::u16string_view path, const ItemRecord& record) {
  auto [folder, leaf] = findParentFolder(path);
  if (folder == nullptr || leaf.empty() || folder->children.contains(leaf)) return false;
  auto file = std::make_unique<Deposit>();
  file->name = leaf;
  file->record = record;
  folder->children.emplace(std::move(leaf), std::move(file));
  return true;
}

std::pair<SvFolder*, std::u16string> FolderTree::findParentFolder(std::u16string_view path) {
  SvFolder* folder = root_.get();
  std::u16string_view pending;  // the component seen last: the leaf, unless another follows
  const bool walked = forEachComponent(path, [&](std::u16string_view component) {
    if (!pending.empty()) {
      auto it = folder->children.find(pending);
      if (it == folder->children.end() || !it->second->isFolder()) return false;
      folder = static_cast<SvFolder*>(it->second.get());
    }
    pending = component;
    return true;
  });
  if (!walked) return {nullptr, std::u16string()};
  return {folder, std::u16string(pending)};
}

const FolderItemNode* FolderTree::deepestNode(std::u16string_view path, bool& complete) const {
  const FolderItemNode* node = root_.get();
  complete = forEachComponent(path, [&](std::u16string_view component) {
    if (!node->isFolder()) return false;
    const auto& children = static_cast<const SvFolder*>(node)->children;
    auto it = children.find(component);
    if (it == children.end()) return false;
    node = it->second.get();
    return true;
  });
  return node;
}

const FolderItemNode* FolderTree::findNode(std::u16string_view path) const {
  bool complete = false;
  const FolderItemNode* node = deepestNode(path, complete);
  return complete ? node : nullptr;
}

FolderItemNode* FolderTree::findNode(std::u16string_view path) {
  return const_cast<FolderItemNode*>(static_cast<const FolderTree*>(this)->findNode(path));
}

void FolderTree::setLeftOut(std::vector<LeftOutItem> items) {
  for (LeftOutItem& item : items) {
    bool complete = false;
    item.after = deepestNode(item.why == LeftOutItem::Why::SameName ? item.namesake : item.folder, complete);
  }
  leftOut_ = std::move(items);
}

void FolderTree::clearTree() {
  leftOut_.clear();
  // Detach subtrees onto a work list so that no destructor recurses through a deep tree.
  std::vector<std::unique_ptr<FolderItemNode>> pending;
  for (auto& [name, child] : root_->children) pending.push_back(std::move(child));
  root_->children.clear();
  while (!pending.empty()) {
    std::unique_ptr<FolderItemNode> node = std::move(pending.back());
    pending.pop_back();
    if (node->isFolder()) {
      auto& children = static_cast<SvFolder*>(node.get())->children;
      for (auto& [name, child] : children) pending.push_back(std::move(child));
      children.clear();
    }
  }
}

}  // namespace sorvel
