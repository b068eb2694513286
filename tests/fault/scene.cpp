#include "scene.h"

#include <sys/stat.h>

#include <gtest/gtest.h>

#include <iterator>

namespace faulttest {

const char SUCCESS[] = "Installation successfully completed.\n";
const char FAILURE[] = "ERROR: Installation failed.\n";
const char VERIFIED[] =
    "ZKINSTALL v1.007 Copyright (c) Zelkor Software\n\n"
    "Verifying package file: @/pkg\n"
    "This may take a moment...\n\n";

std::string packed(const std::vector<std::string>& records) {
    const zktest::TempDir work;
    std::vector<std::string> args{"create", "-o", work / "pkg"};
    args.insert(args.end(), records.begin(), records.end());
    const zktest::RunResult made = zktest::run(zktest::zkpack_path(), args);
    EXPECT_EQ(made.status, 0) << made.err;
    return zktest::read_file(work / "pkg");
}

Scene::Scene(std::string_view package_bytes) {
    zktest::write_file(package, package_bytes, 0755);
    for (const std::string& path : {temp, start, decoy}) ::mkdir(path.c_str(), 0755);
    zktest::write_file(decoy + "/keep", "decoy\n", 0644);
}

zktest::RunResult Scene::install(const std::string& input, zktest::RunOptions options) const {
    options.input = input;
    options.cwd = start;
    options.argv0 = "pkg";
    // A test's own settings stay.
    options.env.emplace("PATH", dir.path() + ":/usr/bin:/bin");
    options.env.emplace("TEMP", temp);
    options.env.emplace("TMP", std::nullopt);
    options.env.emplace("HOME", start);
    options.env.emplace("PWD", std::nullopt);
    zktest::RunResult result = zktest::run(package, {}, options);
    result.out = relative(result.out);
    result.err = relative(zktest::without_progress(result.err));
    return result;
}

std::string Scene::choose_install_dir() const { return install_dir + "\ny\n"; }

archive_test::Tree Scene::tree() const {
    // The package is the largest file by far and never changes.
    archive_test::Tree tree = archive_test::tree_of(dir.path(), "pkg");
    for (auto& [name, description] : tree) description = relative(description);
    return tree;
}

archive_test::Tree Scene::outside() const {
    archive_test::Tree tree = this->tree();
    for (auto it = tree.begin(); it != tree.end();) {
        const std::string& name = it->first;
        const bool may_write = name == "inst" || name.rfind("inst/", 0) == 0;
        it = may_write ? tree.erase(it) : std::next(it);
    }
    return tree;
}

std::string Scene::relative(std::string text) const {
    const std::string& path = dir.path();
    for (size_t at = 0; (at = text.find(path, at)) != std::string::npos; ++at) text.replace(at, path.size(), "@");
    return text;
}

}  // namespace faulttest
