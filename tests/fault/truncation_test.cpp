// A package cut short, as a download that ended early leaves it: the demo's
// package and one with several archive, script and program records, cut at
// every record boundary, inside every record and at a sample of other
// offsets. Both continue prompts are answered with Enter and the install
// directory is chosen, so that what is left of the package is carried out.
#include <gtest/gtest.h>

#include <algorithm>
#include <map>
#include <set>
#include <string>
#include <tuple>
#include <vector>

#include "archive_support.h"
#include "package_util.h"
#include "scene.h"
#include "tree_util.h"

namespace faulttest {
namespace {

using zkpacktest::HEADER_SIZE;
using zktest::RunResult;

const char SIZE_REPORT_START[] = "\n*** Error:\n    Package is corrupt - incorrect size detected.\n";
const char CHECKSUM_PROMPT[] = "    Press <Enter> to continue: ";

// Offsets sampled evenly over the package besides the chosen ones; fewer
// under the sanitizers, where each run costs several times as much and the
// chosen cuts, at every part's edges, are all still made.
#ifdef ZKTEST_ASAN
constexpr size_t SAMPLES = 30;
#else
constexpr size_t SAMPLES = 100;
#endif
// The cuts of a package are shared out over this many tests, which CTest
// runs side by side.
constexpr size_t PIECES = 4;

bool ends_with(const std::string& text, const std::string& end) {
    return text.size() >= end.size() && text.compare(text.size() - end.size(), end.size(), end) == 0;
}

std::string demo_package(const zktest::TempDir&) {
    const std::string demo = zktest::source_dir() + "/examples/demo";
    return packed({"--env", "ZK_BINDIR=bin", "--env", "ZELKOR_VERSION=2.4", "--welcome", demo + "/welcome.txt",
                   "--tree", demo + "/product", "--script", demo + "/setup.sh"});
}

// Each record leaves a trace of its own, so that a run shows which records
// were carried out. The first archive holds data that hardly compresses, in
// bzip2 blocks of 100 kB: a cut inside it leaves files that are already
// written, one of them incomplete.
std::string many_records_package(const zktest::TempDir& sources) {
    zktest::write_file(sources / "welcome.txt", "A package of many records.\n");
    zkpacktest::make_tree(sources.path(), {{"first/", 0755, ""},
                                           {"first/app/", 0755, ""},
                                           {"first/app/bin/", 0700, ""},
                                           {"first/app/bin/tool", 0755, "#!/bin/sh\necho tool\n"},
                                           {"first/app/data", 0644, archive_test::noise(250000)},
                                           {"first/app/empty", 0600, ""},
                                           {"last/", 0755, ""},
                                           {"last/late/", 0755, ""},
                                           {"last/late/file", 0644, "late\n"}});
    zktest::write_file(sources / "second.tar", archive_test::tar_archive({{"more/notes", "notes\n"},
                                                                          {"more/noise", archive_test::noise(20000)}}));
    zktest::write_file(sources / "one", "#!/bin/sh\necho \"program one in $(pwd)\"\necho one > program-one.out\n",
                       0755);
    zktest::write_file(sources / "two",
                       "#!/bin/sh\necho program two\ntouch program-two.out\n#" + std::string(5000, '#') + "\n", 0755);
    zktest::write_file(sources / "one.sh",
                       "echo \"script one: $INSTALL_ROOT $FIRST\"\n"
                       "cp \"$INSTALL_ROOT/app/bin/tool\" \"$INSTALL_ROOT/tool-copy\"\n");
    zktest::write_file(sources / "two.sh", "echo script two\nls \"$INSTALL_ROOT\" > \"$INSTALL_ROOT/listing\"\n");
    return packed({"-1",
                   "--env",
                   "FIRST=1",
                   "--welcome",
                   sources / "welcome.txt",
                   "--tree",
                   sources / "first/",
                   "--program",
                   sources / "one",
                   "--script",
                   sources / "one.sh",
                   "--archive",
                   sources / "second.tar",
                   "--program",
                   sources / "two",
                   "--script",
                   sources / "two.sh",
                   "--tree",
                   sources / "last/",
                   "--env",
                   "LAST=1"});
}

// Where the package's parts end: ends[0] is the header's end, ends[i] the
// end of record i, the last one the file's end.
struct Layout {
    size_t marker_offset;
    std::vector<size_t> ends;
};

Layout layout_of(const std::string& bytes) {
    Layout layout{bytes.find(zkpacktest::marker()), {}};
    size_t end = layout.marker_offset + HEADER_SIZE;
    layout.ends.push_back(end);
    for (const zkpacktest::Record& record : zkpacktest::records_of(bytes)) {
        end += 5 + record.payload.size();
        layout.ends.push_back(end);
    }
    return layout;
}

// Cuts that leave a part unfinished: in the header (before, in and after the
// marker), in each record (in its prefix, at its payload's first byte, one
// byte in, half way, one byte short), and at evenly spaced offsets.
std::vector<size_t> cuts_inside(const Layout& layout) {
    const size_t start = layout.marker_offset;
    std::set<size_t> cuts;
    for (size_t in_header : {1, 13, 14, 15, 100, 171}) cuts.insert(start + in_header);
    for (size_t i = 1; i < layout.ends.size(); ++i) {
        const size_t record = layout.ends[i - 1], end = layout.ends[i];
        for (size_t at : {record + 1, record + 4, record + 5, record + 6, (record + 5 + end) / 2, end - 1}) {
            if (at > record && at < end) cuts.insert(at);
        }
    }
    const size_t size = layout.ends.back();
    for (size_t at = start + 1; at < size; at += std::max<size_t>(1, (size - start) / SAMPLES)) cuts.insert(at);
    for (size_t end : layout.ends) cuts.erase(end);
    return {cuts.begin(), cuts.end()};
}

struct PackageCase {
    const char* what;
    std::string (*build)(const zktest::TempDir& sources);
};

void PrintTo(const PackageCase& c, std::ostream* os) { *os << c.what; }

// A package, and which piece of its cuts to make.
using TruncationCase = std::tuple<PackageCase, size_t>;

// Built once for all pieces run in this process.
const std::string& built(const PackageCase& c) {
    static std::map<std::string, std::string> packages;
    auto [it, fresh] = packages.try_emplace(c.what);
    if (fresh) {
        const zktest::TempDir sources;
        it->second = c.build(sources);
    }
    return it->second;
}

class Truncated : public ::testing::TestWithParam<TruncationCase> {
protected:
    void SetUp() override {
        bytes = built(std::get<PackageCase>(GetParam()));
        layout = layout_of(bytes);
        ASSERT_NE(layout.marker_offset, std::string::npos);
        ASSERT_EQ(layout.ends.back(), bytes.size()) << "the records fill the package";
    }

    // Enter at the size report, Enter at the checksum report when the cut
    // changed the checksum too, then the install directory.
    std::string answers(const Scene& scene, std::string_view cut) const {
        std::string input = "\n";
        const size_t marker_offset = layout.marker_offset;
        if (cut.size() >= marker_offset + HEADER_SIZE &&
            zkpacktest::checksum_of(cut, marker_offset) !=
                zkpacktest::load32(bytes, marker_offset + zkpacktest::CHECKSUM_FIELD)) {
            input += "\n";
        }
        return input + scene.choose_install_dir();
    }

    std::string where(size_t at) const {
        return "cut after " + std::to_string(at - layout.marker_offset) + " of the package's " +
               std::to_string(bytes.size() - layout.marker_offset) + " bytes";
    }

    // Every PIECES-th of the cuts, starting at this test's piece.
    std::vector<size_t> piece_of(const std::vector<size_t>& cuts) const {
        std::vector<size_t> piece;
        for (size_t i = std::get<size_t>(GetParam()); i < cuts.size(); i += PIECES) piece.push_back(cuts[i]);
        return piece;
    }

    std::string bytes;
    Layout layout;
};

TEST_P(Truncated, AtARecordBoundaryCarriesOutExactlyTheRecordsBefore) {
    for (size_t at : piece_of(layout.ends)) {
        SCOPED_TRACE(where(at));
        const std::string_view cut = std::string_view(bytes).substr(0, at);
        // The same records as a sound package of their own.
        std::string whole(cut);
        zkpacktest::seal(whole, layout.marker_offset);
        const Scene reference(whole);
        const RunResult expected = reference.install(reference.choose_install_dir());
        ASSERT_EQ(expected.status, 0) << expected.out;
        ASSERT_TRUE(ends_with(expected.out, SUCCESS)) << expected.out;

        const Scene scene(cut);
        const archive_test::Tree before = scene.outside();
        const RunResult r = scene.install(at == bytes.size() ? scene.choose_install_dir() : answers(scene, cut));
        if (at != bytes.size()) {
            EXPECT_EQ(r.out.substr(0, std::string(SIZE_REPORT_START).size()), SIZE_REPORT_START);
        }
        EXPECT_TRUE(ends_with(r.out, expected.out))
            << "after the reports, the records before the cut and nothing else:\n"
            << r.out << "\nexpected:\n"
            << expected.out;
        std::string err = r.err;
        if (const size_t prompt = err.find(CHECKSUM_PROMPT); prompt != std::string::npos) {
            err.erase(prompt, std::string(CHECKSUM_PROMPT).size());
        }
        EXPECT_EQ(err, expected.err);
        EXPECT_EQ(r.status, 0);
        EXPECT_EQ(scene.tree(), reference.tree());
        EXPECT_EQ(scene.outside(), before);
    }
}

TEST_P(Truncated, InsideAPartNeverSucceedsNorWritesOutside) {
    for (size_t at : piece_of(cuts_inside(layout))) {
        SCOPED_TRACE(where(at));
        const std::string_view cut = std::string_view(bytes).substr(0, at);
        const Scene scene(cut);
        const archive_test::Tree before = scene.outside();
        const RunResult r = scene.install(answers(scene, cut));
        EXPECT_EQ(r.out.find(SUCCESS), std::string::npos) << r.out;
        EXPECT_EQ(r.status, 1) << r.out << r.err;
        EXPECT_EQ(scene.outside(), before) << "written outside the install directory";
    }
}

INSTANTIATE_TEST_SUITE_P(Packages, Truncated,
                         ::testing::Combine(::testing::Values(PackageCase{"demo", demo_package},
                                                              PackageCase{"many_records", many_records_package}),
                                            ::testing::Range<size_t>(0, PIECES)),
                         [](const ::testing::TestParamInfo<TruncationCase>& info) {
                             return std::string(std::get<PackageCase>(info.param).what) + "_" +
                                    std::to_string(std::get<size_t>(info.param));
                         });

}  // namespace
}  // namespace faulttest
