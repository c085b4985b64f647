// Runs the built tavo binary in a fresh folder per test. TAVO_BINARY and
// TAVO_LAUNCHER (for instance wine) in the environment override the binary
// built beside the tests.
#pragma once

#include <gtest/gtest.h>

#include <sys/wait.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "test_support.h"

namespace fs = std::filesystem;

inline std::string env_or(const char* name, const std::string& fallback) {
    const char* value = std::getenv(name);
    return value != nullptr && *value != '\0' ? value : fallback;
}

inline std::string shell_quote(const std::string& s) {
    std::string quoted = "'";
    for (char c : s) quoted += c == '\'' ? std::string("'\\''") : std::string(1, c);
    return quoted + "'";
}

inline Bytes read_file(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    return Bytes(std::istreambuf_iterator<char>(in), {});
}

inline void write_file(const fs::path& path, const Bytes& bytes) {
    std::ofstream out(path, std::ios::binary);
    out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
}

struct ToolRun {
    int status = -1;
    std::string out;  // standard output with CRLF line ends made LF
};

class TavoTest : public testing::Test {
protected:
    fs::path dir;

    void SetUp() override {
        const auto* info = testing::UnitTest::GetInstance()->current_test_info();
        dir = fs::path(testing::TempDir()) / "tavo_e2e" / (std::string(info->test_suite_name()) + "." + info->name());
        fs::remove_all(dir);
        fs::create_directories(dir);
    }
    void TearDown() override {
        if (!HasFailure()) fs::remove_all(dir);
    }

    ToolRun tavo(const std::vector<std::string>& args) const {
        const fs::path out = dir.string() + ".stdout";
        std::string command = "cd " + shell_quote(dir.string()) + " && ";
        const std::string launcher = env_or("TAVO_LAUNCHER", "");
        if (!launcher.empty()) command += launcher + " ";
        command += shell_quote(env_or("TAVO_BINARY", TAVO_DEFAULT_BINARY));
        for (const std::string& a : args) command += " " + shell_quote(a);
        command += " > " + shell_quote(out.string()) + " 2>&1 < /dev/null";
        const int raw = std::system(command.c_str());
        ToolRun run;
        run.status = WIFEXITED(raw) ? WEXITSTATUS(raw) : -1;
        const Bytes bytes = read_file(out);
        for (std::size_t i = 0; i < bytes.size(); ++i)
            if (!(bytes[i] == '\r' && i + 1 < bytes.size() && bytes[i + 1] == '\n')) run.out += static_cast<char>(bytes[i]);
        fs::remove(out);
        return run;
    }

    std::vector<std::string> files() const {
        std::vector<std::string> names;
        for (const auto& entry : fs::directory_iterator(dir)) names.push_back(entry.path().filename().string());
        std::sort(names.begin(), names.end());
        return names;
    }

    Bytes file(const std::string& name) const { return read_file(dir / name); }
    void put(const std::string& name, const Bytes& bytes) const { write_file(dir / name, bytes); }
};
