// The camera's folder tree and where in it the camera stands, as registers
// 83 (subfolder count and selection), 84 (subfolder name, change of folder)
// and 10 (pictures of the current folder) see it.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "sim/camsim.h"

namespace camsim {

class FolderTree {
public:
    void set(const Folder& root);
    void clear();
    bool present() const { return root_.has_value(); }

    // Of the current folder; 0 without folders.
    std::int32_t subfolderCount() const;
    std::int32_t pictures() const;

    // Selects subfolder n (from 1) for selectedName(); false when there is
    // no such subfolder.
    bool select(std::int32_t n);
    // The selected subfolder's name as the camera sends it: every byte of the
    // name, then a zero. Nothing when no subfolder is selected.
    std::optional<Bytes> selectedName() const;

    // A change of folder as written to register 84: the single byte '\' goes
    // to the root, anything else names a subfolder of the current folder.
    // False (nothing changes) without folders or for a name not found.
    bool change(const Bytes& name);

    // "\" for the root, "\A\B" below it, "" without folders.
    std::string path() const;

private:
    const Folder& current() const;

    std::optional<Folder> root_;
    std::vector<std::size_t> at_;  // child indexes from the root down
    std::int32_t selected_ = 0;    // 0: none
};

}  // namespace camsim
