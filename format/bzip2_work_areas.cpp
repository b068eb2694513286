#include "bzip2_work_areas.h"

#include <algorithm>
#include <cstdlib>

namespace bzip2_blocks {

WorkAreas::~WorkAreas() {
    for (const Area& area : areas_) std::free(area.memory);
}

// libbzip2 asks for the same few sizes stream after stream, so an area of the
// exact size is found among a handful. A size not kept means another block
// size: the free areas are of no more use and go, so what is kept never
// exceeds what one stream takes.
void* WorkAreas::allocate(void* areas, int count, int size) {
    auto& self = *static_cast<WorkAreas*>(areas);
    if (count < 0 || size < 0) return nullptr;
    const size_t wanted = static_cast<size_t>(count) * static_cast<size_t>(size);
    for (Area& area : self.areas_) {
        if (!area.in_use && area.size == wanted) {
            area.in_use = true;
            return area.memory;
        }
    }
    self.free_unused();
    void* memory = std::malloc(wanted);
    if (memory != nullptr) self.areas_.push_back({memory, wanted, true});
    return memory;
}

void WorkAreas::free_unused() {
    for (const Area& area : areas_) {
        if (!area.in_use) std::free(area.memory);
    }
    areas_.erase(std::remove_if(areas_.begin(), areas_.end(), [](const Area& area) { return !area.in_use; }),
                 areas_.end());
}

void WorkAreas::release(void* areas, void* memory) {
    auto& self = *static_cast<WorkAreas*>(areas);
    for (Area& area : self.areas_) {
        if (area.memory == memory) area.in_use = false;
    }
}

}  // namespace bzip2_blocks
