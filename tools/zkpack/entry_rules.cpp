#include "entry_rules.h"

namespace zkpack {

namespace {

struct TypeName {
    EntryType type;
    std::string_view kind;
};

constexpr TypeName TYPE_NAMES[] = {
    {EntryType::hard_link, "a hard link"},
    {EntryType::symbolic_link, "a symbolic link"},
    {EntryType::character_device, "a character device"},
    {EntryType::block_device, "a block device"},
    {EntryType::fifo, "a FIFO"},
    {EntryType::socket, "a socket"},
};

bool has_dotdot_component(std::string_view name) {
    size_t start = 0;
    while (start <= name.size()) {
        size_t end = name.find('/', start);
        if (end == std::string_view::npos) end = name.size();
        if (name.substr(start, end - start) == "..") return true;
        start = end + 1;
    }
    return false;
}

}  // namespace

std::string type_problem(std::string_view kind) {
    return std::string(kind) + "; the installer creates only regular files and directories";
}

std::string type_problem(EntryType type) {
    for (const auto& entry : TYPE_NAMES) {
        if (entry.type == type) return type_problem(entry.kind);
    }
    return "";
}

std::string name_problem(std::string_view stored_name) {
    if (stored_name.size() > MAX_NAME_LENGTH) {
        return "its name in the archive takes " + std::to_string(stored_name.size()) +
               " bytes; the installer reads at most " + std::to_string(MAX_NAME_LENGTH);
    }
    // The installer skips such names rather than write outside its directory.
    if (!stored_name.empty() && stored_name.front() == '/') {
        return "an absolute name; the installer writes only below its directory";
    }
    if (has_dotdot_component(stored_name)) return "a '..' component; the installer writes only below its directory";
    return "";
}

std::string size_problem(uint64_t size) {
    if (size <= MAX_ENTRY_SIZE) return "";
    return std::to_string(size) + " bytes; the installer takes files below 2 GiB";
}

}  // namespace zkpack
