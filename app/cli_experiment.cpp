// `pulsebench-cli experiment`: the workbench without a window, its commands run through the
// dispatcher and the dialogs answered by a script.

#include <algorithm>
#include <map>
#include <sstream>

#include "app/cli_commands.h"
#include "app/cli_progress.h"
#include "app/cli_series_text.h"
#include "app/render.h"
#include "model/text_format.h"
#include "platform/dialog_form.h"
#include "platform/headless/headless_shell.h"
#include "workbench/menu.h"
#include "workbench/workbench.h"

using nlohmann::ordered_json;

namespace {
// The headless shell of `experiment`: long work shows its progress on standard error, as
// `simulate` does.
class ExperimentShell : public HeadlessShell {
public:
    const Settings* settings = nullptr;  ///< where the size of a simulation's grid is read

    int runWithProgress(const std::string& title,
                        const std::function<int(const std::function<void(int, int)>& progress,
                                                const std::atomic<bool>& cancel)>& work) override {
        if (!work) return HeadlessShell::runWithProgress(title, work);
        Progress progress;
        if (settings) progress.start(static_cast<long>(settings->wPulsesSteps) * settings->wNoiseSteps);
        return HeadlessShell::runWithProgress(
            title, [&](const std::function<void(int, int)>& inner, const std::atomic<bool>& cancel) {
                return work(
                    [&](int done, int total) {
                        inner(done, total);
                        progress(done, total);
                    },
                    cancel);
            });
    }
};

// Ids the dispatcher knows: the menu's and the internal ones.
bool isKnownCommand(int id) {
    for (const MenuRow& row : mainMenu)
        if (row.id == id) return true;
    return (id >= CM_CREATE_SERIES && id <= CM_DEBUGGING_REPEAT) || (id >= CM_CLOSE && id <= CM_REPAINT_SUBSET_CELLS);
}

}  // namespace

int runExperiment(const ExperimentOptions& o, std::ostream& out, StderrMessageSink& window) {
    std::map<int, std::string> values;
    bool cancel = false;
    for (const std::string& item : o.dialog)
        if (!parseDialogScript(item, values, cancel)) {
            window.messageBox("--dialog expects items like 1001=50 or the word cancel, got \"" + item + "\".",
                              " experiment ", MessageIcon::Warning);
            return 1;
        }
    for (size_t i = 0; i < o.commands.size(); ++i) {
        const int id = o.commands[i];
        if (!isKnownCommand(id)) {
            window.messageBox("--commands: " + std::to_string(id) +
                                  " is not a command id (menu ids 40001 to 40033, internal ids 204 to 224).",
                              " experiment ", MessageIcon::Warning);
            return 1;
        }
        if ((id == CM_EXIT || id == CM_CLOSE) && i + 1 < o.commands.size()) {
            window.messageBox("--commands: nothing runs after " + std::string(id == CM_EXIT ? "Exit (40004)" : "close (204)") +
                                  "; " + std::to_string(o.commands.size() - i - 1) + " ids follow it.",
                              " experiment ", MessageIcon::Warning);
            return 1;
        }
    }
    if (!o.snapshot.empty() && !checkImageOutput(window, "--snapshot", o.snapshot)) return 1;

    ExperimentShell shell;
    Workbench workbench;
    shell.settings = &workbench.settings;
    shell.setDispatcher([&](int id) { workbench.onCommand(id); });
    shell.setDialogAnswer([&](const DialogForm& form) { return scriptedAnswer(form, values, cancel); });
    if (!workbench.onCreate(shell)) return 1;
    // The subset panel's state, as the user would have composed it with the mouse: in the
    // storage the panel prepares for itself (full rows), so that its first paint keeps it.
    SubsetPanelState& panel = workbench.panel;
    if (!o.tuple.empty() || !o.tuples.empty()) {
        if (const SubsetPanelPrepareResult prepared = prepareSubsetPanel(panel, workbench.subsetMarks); !prepared.ok) {
            window.messageBox(prepared.message, "", MessageIcon::None);
            return 1;
        }
        const auto entries = static_cast<size_t>(panel.wSubsetEntries);
        const std::vector<int32_t>& current = o.tuple.empty() ? o.tuples.front() : o.tuple;
        const size_t used = std::min(current.size(), entries);
        std::copy_n(current.begin(), used, panel.selectedSubset.begin());
        panel.wSelectedCount = static_cast<uint16_t>(used);
        const size_t rows = std::min<size_t>(o.tuples.size(), panel.wReservedSubsets);
        for (size_t t = 0; t < rows; ++t) {
            const size_t length = std::min(o.tuples[t].size(), entries);
            std::copy_n(o.tuples[t].begin(), length, panel.selectedSubsetArray[t].begin());
            panel.selectedSubsetArraySize[t] = static_cast<int32_t>(length);
        }
        panel.wStoredSubsets = static_cast<uint16_t>(rows);
        if (rows > 0) panel.currentPatternTuple = 1;
    }

    ResultStream stream(out);
    JsonArrayStream runs(stream);
    int number = 0;
    bool refused = false;
    for (const int id : o.commands) {
        const int before = workbench.processingRuns;
        const size_t shown = shell.messages.size();
        workbench.onCommand(id);
        // A message box other than the simulation's report and the tuple routines' diagnostic
        // reports (what the debugging repeat is for) means the command was refused (or failed):
        // its refusal takes the place of a result, never an earlier one.
        std::string refusal;
        std::vector<std::string> reports;
        for (size_t m = shown; m < shell.messages.size() && refusal.empty(); ++m) {
            if (shell.messages[m].caption == "getPulseEstAsRepeats") continue;
            const std::string caption = trimmedCaption(shell.messages[m].caption);
            std::string text = shell.messages[m].text;
            while (!text.empty() && (text.back() == '\n' || text.back() == ' ')) text.pop_back();
            if (caption == "About TuplesDetection")
                reports.push_back(caption + ": " + text);
            else
                refusal = (caption.empty() ? "" : caption + ": ") + text;
        }
        const Settings& s = workbench.settings;
        if (!refusal.empty()) {
            refused = true;
            if (o.json)
                runs.add({{"command", id}, {"refused", refusal}});
            else
                stream.write("Command " + std::to_string(id) + " refused: " + refusal + "\n");
            continue;
        }
        if (workbench.processingRuns == before || !s.lpSeriesHeader || !s.lpChainsHeader) continue;
        if (o.json) {
            ordered_json run = processingJson(*s.lpSeriesHeader, *s.lpChainsHeader, workbench.lastRoutine,
                                              workbench.lastAnswer);
            run["command"] = id;
            run["taskType"] = code(s.wTaskType);
            run["seriesType"] = code(s.seriesType);
            run["viewMode"] = code(s.viewMode);
            if (!reports.empty()) run["messages"] = reports;
            runs.add(run);
        } else {
            for (const std::string& report : reports)
                stream.write("Command " + std::to_string(id) + " shows " + report + "\n");
            std::ostringstream text;
            text << "Command " << id << ": task " << code(s.wTaskType) << ", series type " << code(s.seriesType) << ", view "
                 << code(s.viewMode) << "\n";
            printProcessingText(*s.lpSeriesHeader, *s.lpChainsHeader, workbench.lastRoutine, workbench.lastAnswer,
                                ++number, text);
            stream.write(text.str());
        }
    }
    if (o.json) runs.close();
    stream.finish();
    int status = refused ? 1 : 0;
    if (!o.snapshot.empty() &&
        !saveImage(window, o.snapshot, renderWorkbench(workbench, o.width, o.height)))
        status = 1;
    workbench.onDestroy();
    return status;
}
