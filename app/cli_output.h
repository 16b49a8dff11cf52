#pragma once

#include <cstddef>
#include <ostream>
#include <string>

#include <nlohmann/json.hpp>

#include "core/refusal.h"
#include "model/message_sink.h"

// What every batch command shares: messages on standard error, results held back until the
// command succeeds, JSON written the one way, output files checked before any work.

/// Prints every message box as "caption: text" on standard error (blanks round the caption
/// trimmed) and counts them, so that a command can tell that something was refused.
class StderrMessageSink : public MessageSink {
public:
    /// Every message is one line "pulsebench-cli COMMAND: CAPTION: text"; a caption that only
    /// repeats the command or the tool's name is left out.
    void messageBox(const std::string& text, const std::string& caption, MessageIcon icon) override;
    std::string command;  ///< the command run ("detect"), set once it is known
    int count = 0;
};

/// What a command prints on standard output, held back so that a refusal leaves standard output
/// empty. Once more than `holdLimit` bytes are held they are passed on and later text streams
/// through, so that memory stays bounded whatever the repeat count.
class ResultStream {
public:
    static constexpr size_t holdLimit = size_t{1} << 22;
    explicit ResultStream(std::ostream& out) : out_(out) {}
    void write(const std::string& text);
    /// Passes on what is held; a stream that is never finished prints nothing more.
    void finish();

private:
    std::ostream& out_;
    std::string held_;
};

/// A JSON array written element by element, byte for byte as formatJson would write the whole.
class JsonArrayStream {
public:
    explicit JsonArrayStream(ResultStream& out) : out_(out) {}
    void add(const nlohmann::ordered_json& element);
    void close();

private:
    ResultStream& out_;
    bool empty_ = true;
};

/// The end of every command: flushes and closes standard output and checks that everything
/// reached it (a full disk, /dev/full). Returns `status`, or 1 after a message naming the
/// failure when the output was lost.
int finishOutput(int status, StderrMessageSink& window);

/// Checks before any work that an output file can be written (OutputFile's conditions); a
/// picture's name must also end in .bmp, .pcx or .png. Returns false after a message naming the
/// option, the path and the reason.
bool checkFileOutput(MessageSink& window, const char* option, const std::string& fileName);
bool checkImageOutput(MessageSink& window, const char* option, const std::string& fileName);

/// JSON with objects indented and arrays of numbers kept on one line, so that a sample array
/// reads as a row and a golden file's diff shows what changed.
std::string formatJson(const nlohmann::ordered_json& value);

/// The batch tool's spelling of a request field: its option ("--saved-energy").
const char* optionName(RequestField field);

/// Reports a refused request as a message box with the option's name in its text.
void reportRefusal(MessageSink& window, const Refusal& refusal, const char* caption);
