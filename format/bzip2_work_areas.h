// libbzip2 takes its work areas from its allocator at each stream's start
// (some 7.6 MB to compress and 3.6 MB to decompress at block size 9) and
// gives them back at the stream's end. Memory that large comes fresh from
// the system each time and costs a page fault per page as it is touched:
// more than a tenth of the time of compressing a one-block stream. A thread
// that codes stream after stream keeps its areas here instead.
#pragma once

#include <cstddef>
#include <vector>

namespace bzip2_blocks {

// One thread's areas. Pass allocate, release and the object's address as a
// bz_stream's bzalloc, bzfree and opaque.
class WorkAreas {
public:
    WorkAreas() = default;
    ~WorkAreas();
    WorkAreas(const WorkAreas&) = delete;
    WorkAreas& operator=(const WorkAreas&) = delete;

    static void* allocate(void* areas, int count, int size);
    static void release(void* areas, void* memory);

private:
    void free_unused();

    struct Area {
        void* memory;
        size_t size;
        bool in_use;
    };
    std::vector<Area> areas_;
};

}  // namespace bzip2_blocks
