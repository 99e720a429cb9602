#include "sim/folders.h"

namespace camsim {

namespace {

std::string withoutTrailingSpaces(std::string s) {
    while (!s.empty() && s.back() == ' ')
        s.pop_back();
    return s;
}

}  // namespace

void FolderTree::set(const Folder& root) {
    root_ = root;
    at_.clear();
    selected_ = 0;
}

void FolderTree::clear() {
    root_.reset();
    at_.clear();
    selected_ = 0;
}

const Folder& FolderTree::current() const {
    const Folder* f = &*root_;
    for (std::size_t i : at_)
        f = &f->children[i];
    return *f;
}

std::int32_t FolderTree::subfolderCount() const {
    if (!root_)
        return 0;
    return static_cast<std::int32_t>(current().children.size());
}

std::int32_t FolderTree::pictures() const {
    return root_ ? current().pictures : 0;
}

bool FolderTree::select(std::int32_t n) {
    if (n < 1 || n > subfolderCount())
        return false;
    selected_ = n;
    return true;
}

std::optional<Bytes> FolderTree::selectedName() const {
    if (!root_ || selected_ < 1)
        return std::nullopt;
    const std::string& name = current().children[static_cast<std::size_t>(selected_ - 1)].name;
    Bytes out(name.begin(), name.end());
    out.push_back(0);
    return out;
}

bool FolderTree::change(const Bytes& name) {
    if (!root_)
        return false;
    if (name == Bytes{'\\'}) {
        at_.clear();
        selected_ = 0;
        return true;
    }
    // Names are padded with spaces on the card; the host trims them.
    const std::string wanted = withoutTrailingSpaces(std::string(name.begin(), name.end()));
    if (wanted.empty())
        return false;
    const auto& children = current().children;
    for (std::size_t i = 0; i < children.size(); ++i) {
        if (withoutTrailingSpaces(children[i].name) == wanted) {
            at_.push_back(i);
            selected_ = 0;
            return true;
        }
    }
    return false;
}

std::string FolderTree::path() const {
    if (!root_)
        return {};
    if (at_.empty())
        return "\\";
    std::string out;
    const Folder* f = &*root_;
    for (std::size_t i : at_) {
        f = &f->children[i];
        out += '\\';
        out += withoutTrailingSpaces(f->name);
    }
    return out;
}

}  // namespace camsim
