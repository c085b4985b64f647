// The built tools as the user meets them: each test runs them in a fresh
// folder of its own, comparing their output, exit status and every byte they
// write. TAVO_BINARY, TAVO_GRAY_BINARY and TAVO_LAUNCHER (for instance wine)
// in the environment override the binaries built beside the tests.
#pragma once

#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <set>
#include <string>
#include <vector>

#include "convert/record_to_bmp.h"
#include "test_support.h"

namespace fs = std::filesystem;

inline std::string env_or(const char* name, const char* fallback) {
    const char* value = std::getenv(name);
    return value != nullptr && *value != '\0' ? value : fallback;
}

inline Bytes bytes_of(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    return Bytes(std::istreambuf_iterator<char>(in), {});
}

// The pictures the tests read, committed beside the script that made them
// (tests/pictures/make.py).
inline const fs::path PICTURES = fs::path(TAVO_SOURCE_DIR) / "tests" / "pictures";

// What Windows (under Wine, which has no codec for them) says of a format
// its own extensions read.
inline std::string no_decoder_on_windows(const std::string& format) {
    const std::string extension = format == "WebP"   ? "the WebP Image Extensions from the Microsoft Store add it"
                                  : format == "HEIC" ? "the HEIF Image Extensions and HEVC Video Extensions from the Microsoft Store add it"
                                                     : "the AV1 Video Extension from the Microsoft Store adds it";
    return "Error - " + format + ": Windows has no decoder for it installed; " + extension;
}

struct ToolRun {
    int status = -1;
    std::string out;  // standard output, CRLF made LF
};

// Runs the tools in a folder of their own per test, and per process: test
// runs of other builds or checkouts at the same time keep out of it.
class Tool : public testing::Test {
protected:
    fs::path dir = fs::path(testing::TempDir()) / "tavo_tool" /
                   (std::string(testing::UnitTest::GetInstance()->current_test_info()->name()) + "." + std::to_string(getpid()));
    bool under_wine = !env_or("TAVO_LAUNCHER", "").empty();

    void SetUp() override {
        fs::remove_all(dir);
        fs::create_directories(dir);
    }
    void TearDown() override {
        if (!HasFailure()) fs::remove_all(dir);
    }
    // The tavo binary itself, for what runs it other than the shell (not under Wine).
    std::string tavo_binary() const { return env_or("TAVO_BINARY", TAVO_DEFAULT_BINARY); }
    // Runs a shell script in the test's folder, where "tavo" and "tavo_gray"
    // run the tools. No folder, binary or argument of these tests holds a
    // single quote.
    ToolRun sh(const std::string& script) const {
        const std::string launcher = env_or("TAVO_LAUNCHER", "");
        const std::string command = wine_started(launcher) + "tavo() { " + launcher + " '" + tavo_binary() +
                                    "' \"$@\"; }; tavo_gray() { " + launcher + " '" +
                                    env_or("TAVO_GRAY_BINARY", TAVO_GRAY_DEFAULT_BINARY) + "' \"$@\"; }; cd '" +
                                    dir.string() + "' && { " + script + "; } 2>&1 < /dev/null";
        std::FILE* pipe = popen(command.c_str(), "r");
        ToolRun run;
        for (int c; (c = std::fgetc(pipe)) != EOF;)
            if (c != '\r') run.out += static_cast<char>(c);
        const int raw = pclose(pipe);
        run.status = WIFEXITED(raw) ? WEXITSTATUS(raw) : -1;
        return run;
    }
    // Under Wine, the first program run starts Wine's server and its own
    // programs (explorer, services, winedevice, plugplay), which keep the
    // output they were started with until the server ends: started with the
    // script's output, they would hold it open for seconds after each run and
    // write into it what befalls them (winedevice has been seen to crash
    // under load, its "wine: Unhandled page fault" line in a test's output).
    // So they are started here first, their output going nowhere, and the
    // server told to stay for 30 s after its last program.
    std::string wine_started(const std::string& launcher) const {
        if (fs::path(launcher).filename().string().find("wine") == std::string::npos) return "";
        return "wineserver -p30 </dev/null >/dev/null 2>&1; " + launcher + " '" + tavo_binary() +
               "' --version </dev/null >/dev/null 2>&1; ";
    }
    ToolRun tavo(const std::vector<std::string>& args, const std::string& tool = "tavo") const {
        std::string script = tool;
        for (const std::string& a : args) script += " '" + a + "'";
        return sh(script);
    }
    ToolRun tavo_gray(const std::vector<std::string>& args) const { return tavo(args, "tavo_gray"); }
    std::set<std::string> files() const {  // the folder's entries
        std::set<std::string> names;
        for (const auto& entry : fs::directory_iterator(dir)) names.insert(entry.path().filename().string());
        return names;
    }
    // What the console shows of UTF-8 text: under Wine, redirected, the ANSI
    // code page, Windows-1252, whose bytes A0-FF are Latin-1's.
    std::string on_console(std::string text) const {
        for (std::size_t at = 0; under_wine && (at = text.find_first_of("\xC2\xC3", at)) != std::string::npos; ++at)
            text.replace(at, 2, 1, static_cast<char>((text[at] & 0x1F) << 6 | (text[at + 1] & 0x3F)));
        return text;
    }
    Bytes file(const std::string& name) const { return bytes_of(dir / name); }
    // Copies a committed picture into the test's folder, as its own name or as.
    void copy_picture(const std::string& name, const std::string& as = "") const {
        fs::copy_file(PICTURES / name, dir / (as.empty() ? name : as));
    }
    void put(const std::string& name, const Bytes& bytes) const {
        std::ofstream(dir / name, std::ios::binary).write(reinterpret_cast<const char*>(bytes.data()),
                                                          static_cast<std::streamsize>(bytes.size()));
    }
};

inline Bytes record_of(const std::string& name, int width, int height) {
    std::vector<std::uint8_t> record;
    EXPECT_EQ(pack_image_record(name, width, height, pattern(width, height), IDENTITY_LEVELS, record), 0);
    return record;
}

inline Bytes bmp_of(int width, int height, const Bytes& pixels, const std::array<std::uint8_t, 64>& palette = GRAY_PALETTE) {
    return written_by([&](ByteStream& s) { write_bmp(s, width, height, palette, pixels); });
}


// What tavo's reader makes of a written BMP file.
inline Bmp4Image read_back(const Bytes& file) {
    ByteStream stream;
    open_memory(stream, file);
    Bmp4Image image;
    BmpHeader header;
    EXPECT_EQ(read_bmp_header(stream, header), 0);
    EXPECT_EQ(read_bmp_pixels(stream, header, {160, 160}, image), BmpError::NONE);
    return image;
}
