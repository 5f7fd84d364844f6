#pragma once
#include <cstdint>
#include <string>
#include <vector>

// Paths inside the work area as Windows compares them: letter case folded,
// '/' and '\' alike. Each name keeps a value (the folder maker keeps the
// system's error for a folder, the sweep nothing).
class FoldedNameSet {
public:
    // The key the set uses for `path`: lower case, every separator '\'.
    static std::wstring fold(const std::wstring& path);

    // Adds `path` (already folded) with `value`; false, keeping the old value,
    // when it is there already.
    bool insert(const std::wstring& folded, uint32_t value = 0);
    // The value kept for `folded`, or nullptr when it is not in the set.
    const uint32_t* find(const std::wstring& folded) const;
    size_t size() const { return count; }

private:
    struct Slot {
        std::wstring name;
        uint32_t value = 0;
        bool used = false;
    };
    size_t slotOf(const std::wstring& folded) const;
    void grow();

    std::vector<Slot> slots;
    size_t count = 0;
};
