// Outcome codes of an instance or process, their names, and the two fatal exits.
#pragma once

namespace outcome {

enum Code : int {
    True = 10,     // a true formula's certificate holds
    Refuted = 11,  // a false formula's countermodel holds
    False = 20,    // the certificate or countermodel does not hold
    Timeout = 30,
    Undecided = 40,
    InstanceCount = 100,
    Error = -1,
    IoError = -2,
    CmdlineError = -3,
    ParseError = -4,
    Crash = -5,
    Memout = -6,
};

// "TRUE", "MEMOUT", ...; "UNDEFINED EXIT CODE" for any other value.
const char* name(int code);

// Prints "MEMOUT" (no line end) and ends the process with -6.
[[noreturn]] void memout();

// Prints the abnormal-exit line and ends the process with -1.
[[noreturn]] void abnormalExit(const char* error, int line, const char* module);

// Makes a failed operator new take the MEMOUT path.
void installNewHandler();

// Exit status byte of a code: negative codes leave the process as 256 + code.
inline int exitStatus(int code) { return code & 0xff; }

// Reverse of exitStatus for what waitpid reports: 250..255 read as -6..-1.
inline int codeFromStatus(int status) { return status >= 250 ? status - 256 : status; }

}  // namespace outcome
