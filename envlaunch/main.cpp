// The launcher: records four environment variables in env_vars.txt beside
// itself, then starts the companion program qxini_core.exe from its own
// directory and ends with 0 when the companion ended with 0, else with -1.
#include <array>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <optional>
#include <string>
#include <system_error>

#include "platform.h"

namespace {

struct Variable {
    const char* name;
    const char* label;  // its name in the error form of the file
};

// The first variable is written under another label than its own name: the
// companion reads it under that label.
constexpr std::array<Variable, 4> kVariables = {{
    {"VELDRIN_HOME", "QX_HOME"},
    {"QXPL_HOME", "QXPL_HOME"},
    {"TOOLCHAIN_DIR", "TOOLCHAIN_DIR"},
    {"QX_INI_PATH", "QX_INI_PATH"},
}};

using Values = std::array<std::optional<std::string>, kVariables.size()>;

constexpr int kFailure = -1;

Values ReadVariables() {
    Values values;
    for (std::size_t i = 0; i < kVariables.size(); ++i) {
        if (const char* value = std::getenv(kVariables[i].name)) values[i] = value;
    }
    return values;
}

// Bare values when all four are present; otherwise "ERROR" and labelled lines,
// so the companion can tell an absent variable from an empty one.
std::string EnvironmentFileText(const Values& values) {
    bool all_present = true;
    for (const auto& value : values) all_present = all_present && value.has_value();

    std::string text;
    if (all_present) {
        for (const auto& value : values) text += *value + "\n";
        return text;
    }
    text = "ERROR\n";
    for (std::size_t i = 0; i < kVariables.size(); ++i) {
        text += std::string(kVariables[i].label) + "=" + values[i].value_or("(null)") + "\n";
    }
    return text;
}

void PrintLine(const std::string& text) {
    std::fwrite(text.data(), 1, text.size(), stdout);
    std::fputc('\n', stdout);
}

// What a failed write leaves behind goes, so that the companion finds no file
// rather than a cut one. Only a plain file is removed; a link to a plain file
// is kept and its target emptied; a device the user put there is left alone.
void RemoveIncompleteFile(const envlaunch::Path& path) {
    namespace fs = std::filesystem;
    std::error_code error;
    const fs::file_status own = fs::symlink_status(path, error);
    if (error) return;
    if (fs::is_regular_file(own)) {
        fs::remove(path, error);
    } else if (fs::is_symlink(own) && fs::is_regular_file(fs::status(path, error))) {
        fs::resize_file(path, 0, error);
    }
}

// The file as the companion reads it, or none: a cut file is taken away.
envlaunch::WriteOutcome WriteEnvironmentFile(const envlaunch::Path& path, const std::string& text) {
    const envlaunch::WriteOutcome outcome = envlaunch::WriteTextFile(path, text);
    if (outcome == envlaunch::WriteOutcome::kCannotWrite) RemoveIncompleteFile(path);
    return outcome;
}

}  // namespace

int main() {
    const Values values = ReadVariables();

    const envlaunch::Path own_path = envlaunch::OwnExecutablePath();
    const std::size_t cut = own_path.rfind(envlaunch::PathSeparator());
    if (cut == envlaunch::Path::npos) {
        std::fprintf(stderr, "envlaunch: cannot find the directory of the running program\n");
        return kFailure;
    }
    const envlaunch::Path dir = own_path.substr(0, cut);

    const envlaunch::Path file_path = dir + envlaunch::PathSeparator() + envlaunch::AsciiPath("env_vars.txt");
    envlaunch::PrintPathLine(file_path);
    // Either way the companion is started: it copes with a missing file.
    switch (WriteEnvironmentFile(file_path, EnvironmentFileText(values))) {
        case envlaunch::WriteOutcome::kCannotOpen: PrintLine("cannot open env_vars.txt"); break;
        case envlaunch::WriteOutcome::kCannotWrite: PrintLine("cannot write env_vars.txt"); break;
        case envlaunch::WriteOutcome::kWritten: break;
    }

    const envlaunch::Path command_line = envlaunch::CompanionCommandLine(dir);
    // The companion is started by its full path, so a failed change of
    // directory does not stop it.
    envlaunch::ChangeDirectory(dir);
    // Our lines come before anything the companion writes to the same stream.
    std::fflush(stdout);
    return envlaunch::RunCommandLine(command_line) ? 0 : kFailure;
}
