#include "app/window_arguments.h"

#include <cmath>
#include <cstdlib>

WindowArguments parseWindowArguments(const std::vector<std::string>& arguments) {
    WindowArguments result;
    const auto refuse = [&result](const std::string& why) {
        if (result.error.empty()) result.error = why;
    };
    const auto setRecording = [&](const std::string& file) {
        if (!result.recording.empty())
            refuse("one recording at a time: \"" + result.recording + "\" and \"" + file + "\"");
        result.recording = file;
    };
    for (size_t i = 0; i < arguments.size(); ++i) {
        const std::string& argument = arguments[i];
        const bool takesValue = argument == "--recording" || argument == "--rate" || argument == "--shapes";
        if (takesValue && i + 1 == arguments.size()) {
            refuse(argument + " needs a value");
            break;
        }
        if (argument == "--help" || argument == "-h") {
            result.help = true;
        } else if (argument == "--version") {
            result.version = true;
        } else if (argument == "--recording") {
            setRecording(arguments[++i]);
        } else if (argument == "--shapes") {
            result.shapes = arguments[++i];
        } else if (argument == "--rate") {
            const std::string& text = arguments[++i];
            char* end = nullptr;
            const double rate = std::strtod(text.c_str(), &end);
            if (text.empty() || *end != '\0' || !std::isfinite(rate) || rate <= 0)
                refuse("--rate: expected a positive number of samples per second, got \"" + text + "\"");
            else
                result.rate = rate;
        } else if (argument == "--") {
            for (++i; i < arguments.size(); ++i) setRecording(arguments[i]);
        } else if (argument.size() > 1 && argument[0] == '-') {
            refuse("unknown option " + argument);
        } else {
            setRecording(argument);
        }
    }
    return result;
}

std::string windowHelpText() {
    return "Usage: pulsebench [OPTIONS] [FILE]\n"
           "PulseBench: a research workbench for the a-posteriori detection and recognition of pulse\n"
           "sequences in noisy signals. Opens the workbench window; with a FILE, the recording view\n"
           "opens it too.\n"
           "\n"
           "Options:\n"
           "  FILE, --recording FILE  open a recording (.wav .flac .ogg .oga .aif .aiff .au, or a\n"
           "                          text table .csv .tsv .txt .dat) in the recording view\n"
           "  --rate HZ               samples per second of a text recording (default 1)\n"
           "  --shapes FILE           load pulse shapes (.json .csv .tsv .txt) with the recording\n"
           "  -h, --help              print this help and exit\n"
           "  --version               print the version, the licence and the libraries used, and exit\n"
           "\n"
           "The window needs a display; --help and --version do not.\n";
}
