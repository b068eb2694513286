// zkpack: builds installers and checks them.
#include "cat.h"
#include "inspect.h"
#include "io.h"
#include "options.h"
#include "signatures.h"
#include "version.h"
#include "writer.h"

#include <cstdio>
#include <exception>
#include <string>
#include <vector>

int main(int argc, char** argv) {
    using namespace zkpack;
    try {
        const Options options =
            parse_options(argc > 0 ? std::vector<std::string>(argv + 1, argv + argc) : std::vector<std::string>{});
        switch (options.command) {
            case Command::help: std::fputs(options.help.c_str(), stdout); return 0;
            case Command::version: std::fputs(VERSION_TEXT, stdout); return 0;
            case Command::create: create_signed_package(options); return 0;
            case Command::list: return list_package(options.package);
            case Command::verify:
                if (verify_packages(options.packages) != 0) return 1;
                if (options.checks_signature()) verify_signature(options);
                return 0;
            case Command::keygen: generate_keys(options); return 0;
            case Command::sign: {
                signing::SecretKey key;
                load_secret_key(options.secret_key_file, options.password_file, key);
                sign_package(options.package, key, options.trusted_comment);
                return 0;
            }
            case Command::cat: return cat_record(options.package, options.record_index);
        }
    } catch (const UsageError& error) {
        std::fprintf(stderr, "zkpack: %s\nTry 'zkpack --help' for more information.\n", error.message.c_str());
        return 2;
    } catch (const Failure& failure) {
        std::fprintf(stderr, "zkpack: %s\n", failure.message.c_str());
        return 1;
    } catch (const std::exception& error) {
        std::fprintf(stderr, "zkpack: %s\n", error.what());
        return 1;
    }
    return 1;
}
