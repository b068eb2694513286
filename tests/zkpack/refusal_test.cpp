// What the installer could not reproduce as meant is refused before any
// output exists, with a message naming the path.
#include "package_util.h"
#include "support.h"
#include "tree_util.h"

#include <gtest/gtest.h>

#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <cstring>
#include <functional>
#include <map>
#include <optional>
#include <string>
#include <vector>

namespace {

using zkpacktest::directory_entries;
using zkpacktest::quoted;
using zkpacktest::shell;
using zkpacktest::zkpack;
using zktest::TempDir;
using zktest::write_file;

const std::string NOT_REPRODUCED = "; the installer makes only files, directories and links\n";

struct Refusal {
    std::string what;
    std::vector<std::string> records;  // record options, relative names under the test's directory
    std::string err;                   // after "zkpack: ", with the directory's path for '@'
    std::map<std::string, std::optional<std::string>> env = {};
};

std::string with_dir(const std::string& text, const std::string& dir) {
    std::string result;
    for (const char c : text) result += c == '@' ? dir : std::string(1, c);
    return result;
}

// Runs each case from a directory holding only its inputs; nothing may be
// added to it, not even a temporary file.
void expect_refusals(const TempDir& dir, const std::vector<Refusal>& refusals) {
    write_file(dir / "stub", zkpacktest::elf_stub());
    const std::vector<std::string> inputs = directory_entries(dir.path());
    for (const auto& refusal : refusals) {
        SCOPED_TRACE(refusal.what);
        std::vector<std::string> args = {"create", "-o", dir / "setup", "--stub", dir / "stub"};
        for (const auto& record : refusal.records) args.push_back(with_dir(record, dir.path()));
        const auto result = zkpack(args, {"", refusal.env, "", ""});
        EXPECT_EQ(result.err, "zkpack: " + with_dir(refusal.err, dir.path()));
        EXPECT_EQ(result.out, "");
        EXPECT_EQ(result.status, 1);
        EXPECT_EQ(directory_entries(dir.path()), inputs);
    }
}

void make_socket(const std::string& path) {
    const int fd = ::socket(AF_UNIX, SOCK_STREAM, 0);
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    ASSERT_LT(path.size(), sizeof address.sun_path);
    std::strcpy(address.sun_path, path.c_str());
    ASSERT_EQ(::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address), 0) << path;
    ::close(fd);
}

// One tree per case, each with a good file beside the bad entry.
std::string tree_with(const TempDir& dir, const std::string& name, const std::function<void(const std::string&)>& add) {
    const std::string root = dir / name;
    ::mkdir(root.c_str(), 0755);
    write_file(root + "/a.txt", "a");
    add(root);
    return "@/" + name;
}

TEST(ZkpackRefusals, TreeEntriesTheInstallerCannotReproduce) {
    TempDir dir;
    std::vector<Refusal> refusals = {
        {"FIFO",
         {"--tree", tree_with(dir, "t3",
                              [](const std::string& root) { ASSERT_EQ(::mkfifo((root + "/fifo").c_str(), 0644), 0); })},
         "@/t3/fifo: a FIFO" + NOT_REPRODUCED},
        {"socket",
         {"--tree", tree_with(dir, "t4", [](const std::string& root) { make_socket(root + "/s"); })},
         "@/t4/s: a socket" + NOT_REPRODUCED},
        {"not a directory", {"--tree", "@/t3/a.txt"}, "@/t3/a.txt: not a directory\n"},
        {"missing directory", {"--tree", "@/none"}, "@/none: cannot read its status: No such file or directory\n"},
        {"bad SOURCE_DATE_EPOCH",
         {"--tree", tree_with(dir, "t9", [](const std::string&) {})},
         "SOURCE_DATE_EPOCH: '1.5' is not a number of seconds\n",
         {{"SOURCE_DATE_EPOCH", "1.5"}}},
        {"refused after a good record",
         {"--script", "@/t3/a.txt", "--tree", "@/t3"},
         "@/t3/fifo: a FIFO" + NOT_REPRODUCED},
    };
    expect_refusals(dir, refusals);
}

// Archives made by Python's tarfile, which writes whatever it is given.
const char MAKE_ARCHIVES[] = R"(
import io, tarfile
def archive(name, entries, form=tarfile.USTAR_FORMAT):
    with tarfile.open(name, 'w', format=form) as t:
        for entry_name, kind, *target in entries:
            info = tarfile.TarInfo(entry_name)
            info.type = kind
            if kind in (tarfile.SYMTYPE, tarfile.LNKTYPE):
                info.linkname = target[0] if target else 'a'
            data = b'data' if kind == tarfile.REGTYPE else b''
            info.size = len(data)
            t.addfile(info, io.BytesIO(data))
archive('hardlink.tar', [('h', tarfile.LNKTYPE), ('a', tarfile.REGTYPE)])
archive('fifo.tar', [('f', tarfile.FIFOTYPE)])
archive('chardev.tar', [('c', tarfile.CHRTYPE)])
archive('blockdev.tar', [('b', tarfile.BLKTYPE)])
archive('absolute.tar', [('/etc/x', tarfile.REGTYPE)])
archive('dotdot.tar', [('a/../../x', tarfile.REGTYPE)])
archive('too-long.tar', [('n' * 4096, tarfile.REGTYPE)], tarfile.GNU_FORMAT)
archive('long-component.tar', [('a', tarfile.REGTYPE), ('d/' + 'c' * 256 + '/f', tarfile.REGTYPE)], tarfile.GNU_FORMAT)
archive('long-target.tar', [('s', tarfile.SYMTYPE, 't' * 4096)], tarfile.GNU_FORMAT)
archive('no-target.tar', [('s', tarfile.SYMTYPE, '')])
archive('beneath-link.tar', [('d', tarfile.DIRTYPE), ('s', tarfile.SYMTYPE, 'd'), ('s/f', tarfile.REGTYPE)])
archive('beneath-file.tar', [('f', tarfile.REGTYPE), ('f/g', tarfile.REGTYPE)])
archive('file-over-dir.tar', [('d/f', tarfile.REGTYPE), ('d', tarfile.REGTYPE)])
archive('dir-over-link.tar', [('s', tarfile.SYMTYPE, 'x'), ('s', tarfile.DIRTYPE)])
archive('relinked.tar', [('a', tarfile.REGTYPE), ('a', tarfile.SYMTYPE, 'x'), ('a', tarfile.REGTYPE), ('d', tarfile.DIRTYPE), ('d', tarfile.DIRTYPE)])
with tarfile.open('pax-sparse.tar', 'w', format=tarfile.PAX_FORMAT) as t:
    info = tarfile.TarInfo('sp')
    info.pax_headers = {'GNU.sparse.major': '1', 'GNU.sparse.minor': '0'}
    t.addfile(info)
with tarfile.open('nul.tar', 'w', format=tarfile.PAX_FORMAT) as t:
    info = tarfile.TarInfo('nul')
    info.pax_headers = {'path': '..\0y/x'}
    t.addfile(info)
big = tarfile.TarInfo('big')
big.size = 2 ** 31
with open('big.tar', 'wb') as f:
    f.write(big.tobuf(tarfile.USTAR_FORMAT) + bytes(1024))
with open('good.tar', 'rb') as f:
    good = f.read()
with open('cut-data.tar', 'wb') as f:
    f.write(good[:512 + 100])
with open('no-end.tar', 'wb') as f:
    f.write(good[:1024])
with open('not-tar.tar', 'wb') as f:
    f.write(b'x' * 2048)
open('empty.tar', 'wb').close()
)";

TEST(ZkpackRefusals, ArchivesTheInstallerCannotUnpackAsMeant) {
    TempDir dir;
    write_file(dir / "make.py", MAKE_ARCHIVES);
    write_file(dir / "a", "data");
    const auto made =
        shell("cd " + quoted(dir.path()) + " && tar --format=ustar -cf good.tar a && python3 make.py" +
              " && bzip2 -k good.tar" + " && cp good.tar.bz2 junk.tar.bz2 && printf junk >> junk.tar.bz2" +
              " && head -c 60 good.tar.bz2 > cut.tar.bz2 && rm make.py");
    ASSERT_EQ(made.status, 0) << made.err;

    const std::string outside = "; the installer writes only below its directory\n";
    const std::vector<Refusal> refusals = {
        {"hard link to no earlier entry",
         {"--archive", "@/hardlink.tar"},
         "@/hardlink.tar: h: a hard link to a, which no entry before it makes\n"},
        {"FIFO", {"--archive", "@/fifo.tar"}, "@/fifo.tar: f: a FIFO" + NOT_REPRODUCED},
        {"character device", {"--archive", "@/chardev.tar"}, "@/chardev.tar: c: a character device" + NOT_REPRODUCED},
        {"block device", {"--archive", "@/blockdev.tar"}, "@/blockdev.tar: b: a block device" + NOT_REPRODUCED},
        {"absolute name", {"--archive", "@/absolute.tar"}, "@/absolute.tar: /etc/x: an absolute name" + outside},
        {"'..' component", {"--archive", "@/dotdot.tar"}, "@/dotdot.tar: a/../../x: a '..' component" + outside},
        {"name of 4096 bytes",
         {"--archive", "@/too-long.tar"},
         "@/too-long.tar: " + std::string(4096, 'n') +
             ": its name takes 4096 bytes; the installer takes at most 4095\n"},
        {"name component of 256 bytes",
         {"--archive", "@/long-component.tar"},
         "@/long-component.tar: d/" + std::string(256, 'c') +
             "/f: a component of its name takes 256 bytes; the installer takes at most 255\n"},
        {"link target of 4096 bytes",
         {"--archive", "@/long-target.tar"},
         "@/long-target.tar: s: a symbolic link whose target takes 4096 bytes; the installer takes at most 4095\n"},
        {"empty link target",
         {"--archive", "@/no-target.tar"},
         "@/no-target.tar: s: a symbolic link with an empty target\n"},
        {"NUL in a pax path",
         {"--archive", "@/nul.tar"},
         "@/nul.tar: ..\\000y/x: a NUL byte in its name; the installer cannot make it as written\n"},
        {"file beneath a symbolic link",
         {"--archive", "@/beneath-link.tar"},
         "@/beneath-link.tar: s/f: beneath the symbolic link s an earlier entry makes; the installer makes nothing "
         "there\n"},
        {"file beneath a file",
         {"--archive", "@/beneath-file.tar"},
         "@/beneath-file.tar: f/g: beneath the file f an earlier entry makes; the installer makes nothing there\n"},
        {"file over a directory",
         {"--archive", "@/file-over-dir.tar"},
         "@/file-over-dir.tar: d: a directory an earlier entry makes has its name; the installer does not replace "
         "it\n"},
        {"directory over a link",
         {"--archive", "@/dir-over-link.tar"},
         "@/dir-over-link.tar: s/: a symbolic link an earlier entry makes has its name; the installer does not "
         "replace it\n"},
        {"pax sparse file", {"--archive", "@/pax-sparse.tar"}, "@/pax-sparse.tar: sp: a sparse file" + NOT_REPRODUCED},
        {"entry of 2 GiB", {"--archive", "@/big.tar"}, "@/big.tar: cut short inside an entry's data\n"},
        {"bytes after the stream",
         {"--archive", "@/junk.tar.bz2"},
         "@/junk.tar.bz2: 4 bytes follow its bzip2 stream; the installer would fail on them\n"},
        {"bzip2 stream cut short", {"--archive", "@/cut.tar.bz2"}, "@/cut.tar.bz2: its bzip2 stream is cut short\n"},
        {"tar cut inside data", {"--archive", "@/cut-data.tar"}, "@/cut-data.tar: cut short inside an entry's data\n"},
        {"tar without its end", {"--archive", "@/no-end.tar"}, "@/no-end.tar: cut short: no end-of-archive block\n"},
        {"not a tar archive",
         {"--archive", "@/not-tar.tar"},
         "@/not-tar.tar: not a tar archive: bad header checksum at offset 0\n"},
        {"empty file", {"--archive", "@/empty.tar"}, "@/empty.tar: not a tar archive: it is empty\n"},
        {"directory", {"--archive", "@"}, "@: not a regular file\n"},
    };
    expect_refusals(dir, refusals);
    const auto accepted =
        zkpack({"create", "-o", dir / "setup", "--stub", dir / "stub", "--archive", dir / "relinked.tar"}, {"", {}, "", ""});
    EXPECT_EQ(accepted.status, 0) << "a file and a link replace each other, a directory may be listed twice: "
                                  << accepted.err;
}

}  // namespace
