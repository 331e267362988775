#include "platform/processes/ResidentPages.h"

#include <elf.h>
#include <link.h>
#include <sys/mman.h>
#include <unistd.h>

namespace qv {

namespace {

struct Release {
    uintptr_t pageSize = 0;
    bool held = true;
};

// An object the loader patched in place (text relocations) may hold changed pages in its
// read-only segments: dropped, they would come back unpatched.
bool hasTextRelocations(const dl_phdr_info& object)
{
    for (int i = 0; i < object.dlpi_phnum; ++i) {
        const ElfW(Phdr)& header = object.dlpi_phdr[i];
        if (header.p_type != PT_DYNAMIC)
            continue;
        for (const auto* entry = reinterpret_cast<const ElfW(Dyn)*>(object.dlpi_addr + header.p_vaddr);
             entry->d_tag != DT_NULL; ++entry) {
            if (entry->d_tag == DT_TEXTREL || (entry->d_tag == DT_FLAGS && (entry->d_un.d_val & DF_TEXTREL)))
                return true;
        }
    }
    return false;
}

// Runs with the loader's lock held: no object comes or goes meanwhile.
int releaseObject(dl_phdr_info* object, size_t, void* data)
{
    auto& release = *static_cast<Release*>(data);
    if (hasTextRelocations(*object))
        return 0;
    // The segment the file starts with, where it is neither code nor data (objects linked with
    // separate code segments, as every current toolchain does). Code and constants stay: the
    // next wheel would wait for them to come back.
    uintptr_t start = 0;
    uintptr_t end = 0;
    for (int i = 0; i < object->dlpi_phnum; ++i) {
        const ElfW(Phdr)& header = object->dlpi_phdr[i];
        if (header.p_type != PT_LOAD || header.p_offset != 0 || (header.p_flags & (PF_W | PF_X)))
            continue;
        // Whole pages only: a page shared with the next segment stays.
        const uintptr_t begin = object->dlpi_addr + header.p_vaddr;
        start = (begin + release.pageSize - 1) & ~(release.pageSize - 1);
        end = (begin + header.p_memsz) & ~(release.pageSize - 1);
    }
    // After the last look at the headers, which live there too: a look after would bring the
    // pages around them back.
    if (end > start && ::madvise(reinterpret_cast<void*>(start), end - start, MADV_DONTNEED) != 0)
        release.held = false;
    return 0;
}

} // namespace

bool ResidentPages::releaseLinkingTables()
{
    const long pageSize = ::sysconf(_SC_PAGESIZE);
    if (pageSize <= 0)
        return false;
    Release release;
    release.pageSize = uintptr_t(pageSize);
    ::dl_iterate_phdr(releaseObject, &release);
    return release.held;
}

} // namespace qv
