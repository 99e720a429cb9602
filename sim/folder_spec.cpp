#include "sim/folder_spec.h"

#include <cstdint>
#include <limits>
#include <string_view>

namespace camsim {

namespace {

class SpecParser {
public:
    explicit SpecParser(const std::string& spec) : s_(spec) {}

    bool parse(Folder& root, std::string& error) {
        root = Folder{};
        if (!s_.empty() && !items(root, true))
            return fail(error);
        if (pos_ != s_.size()) {
            why_ = std::string("unexpected '") + s_[pos_] + "'";
            return fail(error);
        }
        return true;
    }

private:
    bool fail(std::string& error) const {
        error = why_ + " at position " + std::to_string(pos_ + 1);
        return false;
    }

    bool peek(char c) const { return pos_ < s_.size() && s_[pos_] == c; }

    bool items(Folder& parent, bool top) {
        bool rootCount = false;
        for (;;) {
            Folder item;
            bool hasCount = false;
            bool hasChildren = false;
            if (!this->item(item, hasCount, hasChildren))
                return false;
            if (!item.name.empty()) {
                parent.children.push_back(std::move(item));
            } else if (top && hasCount && !hasChildren && !rootCount) {
                parent.pictures = item.pictures;
                rootCount = true;
            } else {
                why_ = "folder without a name";
                return false;
            }
            if (!peek(','))
                return true;
            ++pos_;
        }
    }

    bool item(Folder& f, bool& hasCount, bool& hasChildren) {
        while (pos_ < s_.size() && std::string_view(":,()").find(s_[pos_]) == std::string::npos)
            f.name += s_[pos_++];
        if (peek(':')) {
            ++pos_;
            hasCount = true;
            if (!count(f.pictures))
                return false;
        }
        if (peek('(')) {
            ++pos_;
            hasChildren = true;
            if (!items(f, false))
                return false;
            if (!peek(')')) {
                why_ = "missing ')'";
                return false;
            }
            ++pos_;
        }
        return true;
    }

    bool count(std::int32_t& out) {
        std::int64_t value = 0;
        const std::size_t start = pos_;
        while (pos_ < s_.size() && s_[pos_] >= '0' && s_[pos_] <= '9') {
            value = value * 10 + (s_[pos_++] - '0');
            if (value > std::numeric_limits<std::int32_t>::max()) {
                why_ = "picture count too large";
                return false;
            }
        }
        if (pos_ == start) {
            why_ = "picture count expected";
            return false;
        }
        out = static_cast<std::int32_t>(value);
        return true;
    }

    const std::string& s_;
    std::size_t pos_ = 0;
    std::string why_;
};

}  // namespace

bool parseFolderSpec(const std::string& spec, Folder& root, std::string& error) {
    return SpecParser(spec).parse(root, error);
}

}  // namespace camsim
