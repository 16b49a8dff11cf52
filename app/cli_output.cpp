#include "app/cli_output.h"

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <iostream>

#include "io/output_file.h"
#include "model/text_format.h"

using nlohmann::ordered_json;

void StderrMessageSink::messageBox(const std::string& text, const std::string& caption, MessageIcon) {
    const std::string trimmed = trimmedCaption(caption);
    std::string body = text;
    while (!body.empty() && body.back() == '\n') body.pop_back();
    const std::string tool = command.empty() ? "pulsebench-cli" : "pulsebench-cli " + command;
    const bool repeats = trimmed.empty() || trimmed == command || trimmed == "pulsebench-cli";
    std::cerr << tool << ": " << (repeats ? "" : trimmed + ": ") << body << '\n';
    ++count;
}

void ResultStream::write(const std::string& text) {
    held_ += text;
    if (held_.size() > holdLimit) {
        out_ << held_;
        held_.clear();
    }
}

void ResultStream::finish() {
    out_ << held_;
    held_.clear();
    out_.flush();
}

int finishOutput(int status, StderrMessageSink& window) {
    errno = 0;
    std::cout.flush();
    int code = 0;
    if (!std::cout.good() || std::fflush(stdout) != 0 || std::ferror(stdout)) code = errno ? errno : EIO;
    // A standard output closed from the start fails only its close when nothing was written.
    if (std::fclose(stdout) != 0 && !code && errno != EBADF) code = errno ? errno : EIO;
    if (code == 0) return status;
    window.messageBox(std::string("Cannot write standard output: ") + std::strerror(code) + ".", " pulsebench-cli ",
                      MessageIcon::Warning);
    return status ? status : 1;
}

namespace {
bool isNumberArray(const ordered_json& v) {
    return v.is_array() && std::all_of(v.begin(), v.end(), [](const ordered_json& e) { return e.is_number(); });
}

void writeJson(const ordered_json& v, int indent, std::string& out) {
    const std::string pad(static_cast<size_t>(indent) * 2, ' ');
    const std::string inner(static_cast<size_t>(indent + 1) * 2, ' ');
    if (v.is_object() && !v.empty()) {
        out += "{\n";
        bool first = true;
        for (const auto& [key, item] : v.items()) {
            if (!first) out += ",\n";
            first = false;
            out += inner + ordered_json(key).dump() + ": ";
            writeJson(item, indent + 1, out);
        }
        out += "\n" + pad + "}";
    } else if (v.is_array() && !v.empty() && !isNumberArray(v)) {
        out += "[\n";
        for (size_t i = 0; i < v.size(); ++i) {
            if (i) out += ",\n";
            out += inner;
            writeJson(v[i], indent + 1, out);
        }
        out += "\n" + pad + "]";
    } else if (v.is_array()) {
        out += "[";
        for (size_t i = 0; i < v.size(); ++i) {
            if (i) out += ',';
            out += v[i].dump();
        }
        out += "]";
    } else {
        out += v.dump();
    }
}

bool isImageName(const std::string& name) {
    return endsWithIgnoringCase(name, ".bmp") || endsWithIgnoringCase(name, ".pcx") || endsWithIgnoringCase(name, ".png");
}

}  // namespace

void JsonArrayStream::add(const ordered_json& element) {
    std::string text = empty_ ? "[\n  " : ",\n  ";
    writeJson(element, 1, text);
    out_.write(text);
    empty_ = false;
}

void JsonArrayStream::close() {
    out_.write(empty_ ? "[]\n" : "\n]\n");
}

std::string formatJson(const ordered_json& value) {
    std::string out;
    writeJson(value, 0, out);
    return out + "\n";
}

bool checkImageOutput(MessageSink& window, const char* option, const std::string& fileName) {
    if (!isImageName(fileName)) {
        window.messageBox(std::string(option) + ": the picture's file name must end in \".bmp\", \".pcx\" or \".png\" (got \"" +
                              fileName + "\").",
                          " pulsebench-cli ", MessageIcon::Warning);
        return false;
    }
    return checkFileOutput(window, option, fileName);
}

bool checkFileOutput(MessageSink& window, const char* option, const std::string& fileName) {
    const std::string problem = outputFileProblem(fileName);
    if (problem.empty()) return true;
    window.messageBox(std::string(option) + ": cannot write " + problem + ".", " pulsebench-cli ", MessageIcon::Warning);
    return false;
}

const char* optionName(RequestField field) {
    switch (field) {
        case RequestField::none: return "";
        case RequestField::type: return "--type";
        case RequestField::length: return "--length";
        case RequestField::count: return "--count";
        case RequestField::savedEnergy: return "--saved-energy";
        case RequestField::subset: return "--subset";
        case RequestField::subsetMode: return "--subset-mode";
        case RequestField::subsetStart: return "--subset-start";
        case RequestField::repeat: return "--repeat";
        case RequestField::task: return "--task";
        case RequestField::candidates: return "--candidates";
        case RequestField::tuple: return "--tuple";
        case RequestField::tuples: return "--tuples";
        case RequestField::proceeding: return "--proceeding";
        case RequestField::savedEnergyCreate: return "--saved-energy-create";
        case RequestField::savedEnergyProcess: return "--saved-energy-process";
        case RequestField::pulses: return "--pulses";
        case RequestField::noise: return "--noise";
        case RequestField::repeats: return "--repeats";
    }
    return "";
}

void reportRefusal(MessageSink& window, const Refusal& refusal, const char* caption) {
    window.messageBox(refusal.textFor(optionName(refusal.field)), caption, MessageIcon::Warning);
}
