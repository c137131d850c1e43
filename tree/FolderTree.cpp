#include "tree/FolderTree.h"

#include <vector>

namespace sorvel {
namespace {

std::unique_ptr<SvFolder> createRoot() {
  auto root = std::make_unique<SvFolder>();
  root->name.assign(1, kRootPath[0]);
  root->record.entry.raw[1] = kFolderAttribute;
  storeU16(root->record.entry.raw.data() + 34, kRootDirectoryBlock);
  return root;
}

}  // namespace

FolderTree::FolderTree() : root_(createRoot()) {}

FolderTree::~FolderTree() { clearTree(); }

bool FolderTree::addFolder(std::u16string_view path, const ItemRecord& record) {
  SvFolder* folder = root_.get();
  for (std::u16string& component : splitPath(path)) {
    auto it = folder->children.find(component);
    if (it == folder->children.end()) {
      auto created = std::make_unique<SvFolder>();
      created->name = component;
      created->record = record;
      SvFolder* next = created.get();
      folder->children.emplace(std::move(component), std::move(created));
      folder = next;
    } else if (!it->second->isFolder()) {
      return false;
    } else {
      folder = static_cast<SvFolder*>(it->second.get());
    }
  }
  return true;
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
  std::vector<std::u16string> parts = splitPath(path);
  if (parts.empty()) return {root_.get(), std::u16string()};
  SvFolder* folder = root_.get();
  for (std::size_t i = 0; i + 1 < parts.size(); ++i) {
    auto it = folder->children.find(parts[i]);
    if (it == folder->children.end() || !it->second->isFolder()) return {nullptr, std::u16string()};
    folder = static_cast<SvFolder*>(it->second.get());
  }
  return {folder, std::move(parts.back())};
}

const FolderItemNode* FolderTree::findNode(std::u16string_view path) const {
  const FolderItemNode* node = root_.get();
  for (const std::u16string& component : splitPath(path)) {
    if (!node->isFolder()) return nullptr;
    const auto& children = static_cast<const SvFolder*>(node)->children;
    auto it = children.find(component);
    if (it == children.end()) return nullptr;
    node = it->second.get();
  }
  return node;
}

FolderItemNode* FolderTree::findNode(std::u16string_view path) {
  return const_cast<FolderItemNode*>(static_cast<const FolderTree*>(this)->findNode(path));
}

void FolderTree::clearTree() {
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
