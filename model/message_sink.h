#pragma once

#include <string>
#include <vector>

/// Icon of a message box. The workbench shows plain OK boxes and warning boxes.
enum class MessageIcon { None, Warning };

/// Where the engine's routines report a failure. In the workbench the main window implements it
/// with a modal message box (OK button, the given text and caption); the command-line tool and
/// the tests implement it without a window. Texts are UTF-8.
///
/// A routine reports at most what it describes and then returns its failure value; the sink only
/// shows, it never changes what the routine does next.
class MessageSink {
public:
    virtual ~MessageSink() = default;
    virtual void messageBox(const std::string& text, const std::string& caption, MessageIcon icon) = 0;
};

/// Keeps every message in order; used by the command-line tool (which prints them) and by tests.
class RecordingMessageSink : public MessageSink {
public:
    struct Message {
        std::string text;
        std::string caption;
        MessageIcon icon;
    };

    void messageBox(const std::string& text, const std::string& caption, MessageIcon icon) override {
        messages.push_back({text, caption, icon});
    }

    std::vector<Message> messages;
};
