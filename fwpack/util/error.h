// Errors as values: what went wrong, in which file and on which line, carried
// up to the one place of the program that prints them. Code below the
// command line never prints.
#pragma once

#include <cstdint>
#include <string>

struct Error {
    enum class Kind {
        kNone,        // nothing to say beyond the outcome (a file that could not be read on)
        kProblem,     // what is wrong, as one line
        kReaderLine,  // a record reader's diagnostic, on line `line` of the file
        kCannotOpen,  // the file cannot be opened; `cause` says why
    };

    Kind kind = Kind::kNone;
    std::string path;   // the file it concerns; empty when the cause names it itself, or none
    uint32_t line = 0;  // kReaderLine: the 1-based line of the record
    std::string cause;  // one line, without line end and without the program's name

    // An input could not be loaded: the line that says so follows the cause.
    bool unloadable = false;

    static Error Problem(std::string path, std::string cause) {
        return {Kind::kProblem, std::move(path), 0, std::move(cause), false};
    }
    static Error ReaderLine(uint32_t line, std::string cause) {
        return {Kind::kReaderLine, std::string(), line, std::move(cause), false};
    }
    static Error CannotOpen(std::string path, std::string cause) {
        return {Kind::kCannotOpen, std::move(path), 0, std::move(cause), false};
    }
};

// A reader's diagnostic as the readers have always printed it:
// "FILE : line <n>: <cause>" and a line end.
inline std::string ReaderDiagnostic(const Error& error) {
    return "FILE : line " + std::to_string(error.line) + ": " + error.cause + "\n";
}

// What a listing names as the problem of a file: the cause, led by its line
// for a reader's diagnostic ("line 1: Bad hexadecimal checksum!").
inline std::string ProblemText(const Error& error) {
    if (error.kind == Error::Kind::kReaderLine) return "line " + std::to_string(error.line) + ": " + error.cause;
    return error.cause;
}
