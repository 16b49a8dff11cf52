#include "dialogs/dialogs.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "platform/shell.h"

namespace {

using Kind = DialogControl::Kind;
using Values = std::map<int, std::string>;

DialogResult answer(const DialogForm& form, const Values& values, bool cancel = false) {
    return scriptedAnswer(form, values, cancel);
}

std::vector<int> ids(const DialogForm& form) {
    std::vector<int> out;
    for (const DialogControl& c : form.controls) out.push_back(c.id);
    return out;
}

std::string label(const DialogForm& form, int id) {
    const DialogControl* c = form.find(id);
    return c ? c->label : "<missing>";
}

std::string text(const DialogForm& form, int id) {
    const DialogControl* c = form.find(id);
    return c ? c->text : "<missing>";
}

bool checked(const DialogForm& form, int id) {
    const DialogControl* c = form.find(id);
    return c && c->checked;
}

/// Caption of the group box the control sits in; "" outside any group.
std::string groupOf(const DialogForm& form, int id) {
    const DialogControl* c = form.find(id);
    if (!c || c->group == -1) return "";
    const DialogControl* box = form.find(c->group);
    return box && box->kind == Kind::Group ? box->label : "<no box>";
}

class FakeShell : public Shell {
public:
    Values values;
    bool cancel = false;
    std::vector<DialogForm> shown;
    std::vector<std::string> messages;

    DialogResult runDialog(const DialogForm& form) override {
        shown.push_back(form);
        return scriptedAnswer(form, values, cancel);
    }
    void messageBox(const std::string& text, const std::string&, MessageIcon) override { messages.push_back(text); }
    void invalidate(const Rect*, bool) override {}
    void sendCommand(int) override {}
    void checkMenuItem(int, bool) override {}
    void close() override {}
    void setCapture(bool) override {}
    void setCursor(CursorShape) override {}
    void moveEdit(const Rect&) override {}
    void setEditText(const std::string&) override {}
    std::string editText() override { return {}; }
    std::optional<std::string> chooseSaveFile(const std::string&) override { return {}; }
    int runWithProgress(const std::string&,
                        const std::function<int(const std::function<void(int, int)>&,
                                                const std::atomic<bool>&)>&) override {
        return 0;
    }
};

} // namespace

TEST(DialogNumberTest, ReadsTheLeadingDecimalInteger) {
    EXPECT_EQ(parseDialogNumber("12abc"), 12);
    EXPECT_EQ(parseDialogNumber("abc"), 0);
    EXPECT_EQ(parseDialogNumber(""), 0);
    EXPECT_EQ(parseDialogNumber("  \t-42 7"), -42);
    EXPECT_EQ(parseDialogNumber("+7"), 7);
    EXPECT_EQ(parseDialogNumber("- 5"), 0);
    EXPECT_EQ(parseDialogNumber(std::string(98, ' ') + "12"), 1);  // the 100th character is unseen
    EXPECT_EQ(parseDialogNumber("2147483647"), 2147483647);
    EXPECT_EQ(parseDialogNumber("-2147483648"), INT32_MIN);
    EXPECT_EQ(parseDialogNumber(std::string(60, '9')), INT32_MAX);
    EXPECT_EQ(parseDialogNumber("-" + std::string(60, '9')), INT32_MIN);
}

TEST(NumberListTest, FormatsWithoutTrailingComma) {
    const uint16_t values[] = {4, 4, 7};
    EXPECT_EQ(formatNumberList(values, 3), "4,4,7");
    EXPECT_EQ(formatNumberList(values, 1), "4");
    EXPECT_EQ(formatNumberList(nullptr, 0), "");
}

TEST(NumberListTest, OneCommaOrOneBlankSeparatesTwoNumbers) {
    using V = std::vector<int32_t>;
    EXPECT_EQ(parseNumberList("3 5,7", 3), (V{3, 5, 7}));
    EXPECT_EQ(parseNumberList("3,,5", 3), (V{3, 0, 5}));
    EXPECT_EQ(parseNumberList("3 ,5", 3), (V{3, 0, 5}));
    EXPECT_EQ(parseNumberList("1,2", 4), (V{1, 2, 0, 0}));
    EXPECT_EQ(parseNumberList("1,2,3", 2), (V{1, 2}));
    EXPECT_EQ(parseNumberList(" 3, 5x,7", 3), (V{3, 5, 7}));
    EXPECT_EQ(parseNumberList("anything", 0), V{});
}

TEST(NumberListTest, ReadsTheWholeText) {
    std::string list;
    for (int n = 10; n < 44; ++n) list += (list.empty() ? "" : ",") + std::to_string(n);
    ASSERT_EQ(list.size(), 101u);
    const std::vector<int32_t> numbers = parseNumberList(list, 34);
    EXPECT_EQ(numbers[32], 42);
    EXPECT_EQ(numbers[33], 43);  // "43" starts at the 100th character
}

TEST(DialogScriptTest, ParsesItemsAndTheWordCancel) {
    Values values;
    bool cancel = false;
    ASSERT_TRUE(parseDialogScript(" 1001=50 ;1010=3 5,7\n\ncancel;1001=60;1033=", values, cancel));
    EXPECT_EQ(values, (Values{{1001, "60"}, {1010, "3 5,7"}, {1033, ""}}));
    EXPECT_TRUE(cancel);

    Values none;
    bool notCancelled = false;
    EXPECT_TRUE(parseDialogScript("", none, notCancelled));
    EXPECT_TRUE(none.empty());
    EXPECT_FALSE(notCancelled);
}

TEST(DialogScriptTest, MalformedItemsLeaveTheOutputsAlone) {
    for (const char* bad : {"1001", "=5", "x=5", "10a=5", "-3=1", "1001=5;stop", "99999999999=1"}) {
        Values values{{7, "kept"}};
        bool cancel = false;
        EXPECT_FALSE(parseDialogScript(std::string(bad) + ";cancel", values, cancel)) << bad;
        EXPECT_EQ(values, (Values{{7, "kept"}})) << bad;
        EXPECT_FALSE(cancel) << bad;
    }
}

TEST(ScriptedAnswerTest, TypesClicksAndIgnoresUnknownIds) {
    Settings s;
    s.subsetEmployment = 2;
    const DialogForm subset = subsetSettingsForm(s);
    const DialogResult plain = untouched(subset, true);
    EXPECT_TRUE(plain.accepted);
    EXPECT_TRUE(plain.clicks.empty());
    EXPECT_EQ(plain.texts, (Values{{1020, "1"}}));  // edits only, no static or group texts
    EXPECT_EQ(plain.checked.size(), 7u);

    // 1016 is already checked: clicking it again still counts; "0" on a radio does nothing.
    const DialogResult r = answer(subset, {{1018, "1"}, {1016, "1"}, {1022, "0"}, {1020, "9"},
                                           {-2, "x"}, {4242, "1"}});
    EXPECT_EQ(r.clicks, (std::vector<int>{1016, 1018}));
    EXPECT_FALSE(r.checked.at(1016));
    EXPECT_TRUE(r.checked.at(1018));
    EXPECT_TRUE(r.checked.at(1021));  // the other group keeps its radio
    EXPECT_FALSE(r.checked.at(1022));
    EXPECT_EQ(r.texts.at(1020), "1");  // the init position is disabled: a script cannot type into it
    EXPECT_EQ(r.texts.size(), 1u);
    EXPECT_FALSE(answer(subset, {}, true).accepted);

    s.highlightDetectedPulses = 1;
    s.shadeOriginalPulses = 0;
    const DialogResult d = answer(drawingSettingsForm(s), {{1023, "1"}, {1024, "yes"}, {1044, "0"}});
    EXPECT_EQ(d.clicks, (std::vector<int>{1024, 1044}));  // 1023 was already checked
    EXPECT_TRUE(d.checked.at(1024));
    EXPECT_FALSE(d.checked.at(1044));
}

TEST(SeriesEnergyDialogTest, FormShowsTheSettings) {
    Settings s;
    s.dwSeriesSize = 600;
    s.currentEtalon = 3;
    s.wSavedEnergyCreate = 70;
    s.wSavedEnergyProcess = 60;
    const DialogForm f = seriesEnergyForm(s);
    EXPECT_EQ(f.resource, 105);
    EXPECT_EQ(f.caption, "Create Series");
    EXPECT_EQ(ids(f), (std::vector<int>{-2, 1000, 1001, 1003, 1004, 1005, -3, 1006, 1, 2}));
    EXPECT_EQ(label(f, 1000), "Samples Length");
    EXPECT_EQ(label(f, 1001), "Min Length of Interval");
    EXPECT_EQ(label(f, 1003), "Max Length of Interval");
    EXPECT_EQ(label(f, 1004), "Etalon Number");
    EXPECT_EQ(label(f, 1005), "Saved Energy Level (from 0 to 100)");
    EXPECT_EQ(label(f, 1006), "Saved Energy Level (from 0 to 100)");
    EXPECT_EQ(groupOf(f, 1005), "Parameters for creating series");
    EXPECT_EQ(groupOf(f, 1006), "Parameters for processing series");
    EXPECT_EQ(text(f, 1000), "600");
    EXPECT_EQ(text(f, 1001), "40");
    EXPECT_EQ(text(f, 1003), "181");
    EXPECT_EQ(text(f, 1004), "3");
    EXPECT_EQ(text(f, 1005), "70");
    EXPECT_EQ(text(f, 1006), "60");
    EXPECT_EQ(label(f, 1), "OK");
    EXPECT_EQ(label(f, 2), "Cancel");
}

TEST(SeriesEnergyDialogTest, OkReturnsTheValuesAsTheFieldWidthGivesCancelNothing) {
    Settings s;
    const DialogForm f = seriesEnergyForm(s);
    const Values typed{{1000, "12abc"}, {1001, "abc"}, {1003, "-1"}, {1004, "5"},
                       {1005, "65537"}, {1006, " 80"}};
    EXPECT_FALSE(seriesEnergyValues(answer(f, typed, true)));

    const std::optional<SeriesEnergyValues> v = seriesEnergyValues(answer(f, typed));
    ASSERT_TRUE(v);
    EXPECT_EQ(v->seriesSize, 12u);
    EXPECT_EQ(v->tmin, 0);
    EXPECT_EQ(v->tmax, 65535);
    EXPECT_EQ(v->etalonNumber, 5);
    EXPECT_EQ(v->savedEnergyCreate, 1);
    EXPECT_EQ(v->savedEnergyProcess, 80);
    // Nothing is left in the settings: the command commits what it takes.
    EXPECT_EQ(s.etalonNumber, 1);
    EXPECT_EQ(s.wTmin, 40);
}

TEST(PulsesDialogTest, FormShowsBoundsAndTheFirstEntriesOfTheSequence) {
    Settings s;
    s.wPulsesQuantity = 3;
    s.wNoiseLevel = -3;
    s.lpEtalonSequenceDlg = {4, 4, 7, 9, 9};
    const DialogForm f = pulsesForm(s, 2, 8);
    EXPECT_EQ(f.resource, 106);
    EXPECT_EQ(f.caption, "Create Series");
    EXPECT_EQ(ids(f), (std::vector<int>{-2, 1008, 1007, 1009, 1010, 1011, 1, 2}));
    EXPECT_EQ(groupOf(f, 1010), " Series structure ");
    EXPECT_EQ(text(f, 1008), "Number of Pulses in Series (from 2 to 8)");
    EXPECT_EQ(text(f, 1009), "Sequence of Etalons in Series (values from 1 to 20)");
    EXPECT_EQ(text(f, 1007), "3");
    EXPECT_EQ(text(f, 1010), "4,4,7");
    EXPECT_EQ(label(f, 1011), "Noise Level");
    EXPECT_EQ(text(f, 1011), "-3");
}

TEST(PulsesDialogTest, OkReadsAsManyEntriesAsShownAndNeverBeyondTheSequence) {
    Settings s;
    s.wPulsesQuantity = 3;
    s.lpEtalonSequenceDlg = {4, 4, 7, 9, 9};
    const Values typed{{1007, "5"}, {1010, "3 5,7,8,8"}, {1011, "-1"}};
    EXPECT_FALSE(pulsesValues(answer(pulsesForm(s, 1, 9), typed, true), 3, s));

    const std::optional<PulsesValues> v = pulsesValues(answer(pulsesForm(s, 1, 9), typed), 3, s);
    ASSERT_TRUE(v);
    EXPECT_EQ(v->count, 5);
    EXPECT_EQ(v->noiseLevel, 65535);
    EXPECT_EQ(v->sequence, (std::vector<uint16_t>{3, 5, 7, 9, 9}));
    EXPECT_EQ(s.wPulsesQuantity, 3);
    EXPECT_EQ(s.lpEtalonSequenceDlg, (std::vector<uint16_t>{4, 4, 7, 9, 9}));

    s.lpEtalonSequenceDlg = std::vector<uint16_t>{4, 4};  // shorter than the count, own buffer
    const DialogForm shortForm = pulsesForm(s, 1, 9);
    EXPECT_EQ(text(shortForm, 1010), "4,4");
    EXPECT_EQ(pulsesValues(answer(shortForm, {{1010, "1,2,3"}}), 3, s)->sequence, (std::vector<uint16_t>{1, 2}));
}

TEST(RequiredListDialogTest, CountIsDecidedBeforeTheListAndStaysWithinCapacity) {
    Settings s;
    s.wAlphabetSize = 12;
    s.wRequiredCapacity = 4;
    s.lpRequiredList.reset(new uint16_t[4]{2, 5, 0, 0});
    s.wRequiredCount = 2;
    const DialogForm f = requiredListForm(s);
    EXPECT_EQ(f.resource, 107);
    EXPECT_EQ(f.caption, "List of Required Etalons");
    EXPECT_EQ(ids(f), (std::vector<int>{1014, 1012, 1013, 1, 2}));
    EXPECT_EQ(label(f, 1014), "Number of Required Etalons");
    EXPECT_EQ(text(f, 1014), "2");
    EXPECT_EQ(text(f, 1012), "List of Required Etalons (from 1 to 12)");
    EXPECT_EQ(text(f, 1013), "2,5");

    for (const char* count : {"0", "5", "-1", "65538"}) {
        const std::optional<RequiredListValues> v =
            requiredListValues(answer(f, {{1014, count}, {1013, "7 8 9 10 11"}}), s);
        ASSERT_TRUE(v);
        EXPECT_EQ(v->count, 2) << count;
        EXPECT_EQ(v->list, (std::vector<uint16_t>{7, 8, 0, 0})) << count;
    }
    const std::optional<RequiredListValues> four = requiredListValues(answer(f, {{1014, "4"}, {1013, "1,3,6"}}), s);
    ASSERT_TRUE(four);
    EXPECT_EQ(four->count, 4);
    EXPECT_EQ(four->list, (std::vector<uint16_t>{1, 3, 6, 0}));
    EXPECT_FALSE(requiredListValues(answer(f, {{1014, "1"}, {1013, "9"}}, true), s));
    // The settings keep what they held: the command commits.
    EXPECT_EQ(s.wRequiredCount, 2);
    EXPECT_EQ(s.lpRequiredList[0], 2);

    s.wRequiredCount = 9;  // a count beyond the capacity never reads or writes past it
    EXPECT_EQ(text(requiredListForm(s), 1013), "2,5,0,0");
    const std::optional<RequiredListValues> wide =
        requiredListValues(answer(requiredListForm(s), {{1013, "5,5,5,5,5,5,5,5,5"}}), s);
    ASSERT_TRUE(wide);
    EXPECT_EQ(wide->list, (std::vector<uint16_t>{5, 5, 5, 5}));
}

TEST(SimulationRangesDialogTest, ShowsAndWritesTheRanges) {
    Settings s;
    const DialogForm f = simulationRangesForm(s, 6, 30);
    EXPECT_EQ(f.resource, 110);
    EXPECT_EQ(f.caption, " Location Parameters");
    EXPECT_EQ(ids(f), (std::vector<int>{-2, 1015, 1016, 1017, 1021, -3, 1019, 1018, 1020, 1, 2}));
    const std::vector<std::pair<int, const char*>> shown = {
        {1015, "6"}, {1016, "30"}, {1017, "1"}, {1021, "100"}, {1019, "0"}, {1018, "29"}, {1020, "5"}};
    for (const auto& [id, value] : shown) EXPECT_EQ(text(f, id), value) << id;
    EXPECT_EQ(label(f, 1017), "incr.");
    EXPECT_EQ(label(f, 1018), "Number of Steps in Simulation");
    EXPECT_EQ(label(f, 1020), "Noise Increment per Step");
    EXPECT_EQ(groupOf(f, 1016), " Number of Pulses in Series ");
    EXPECT_EQ(groupOf(f, 1019), " Noise parameters ");
    EXPECT_EQ(groupOf(f, 1021), "");

    const Values typed{{1015, "40"}, {1016, "10"}, {1017, "0"}, {1019, "2"},
                       {1018, "-1"}, {1020, "7"}, {1021, "12abc"}};
    EXPECT_FALSE(simulationRangesValues(answer(f, typed, true)));

    const std::optional<SimulationRanges> r = simulationRangesValues(answer(f, typed));
    ASSERT_TRUE(r);
    EXPECT_EQ(r->minPulses, 40);  // no check against the maximum
    EXPECT_EQ(r->maxPulses, 10);
    EXPECT_EQ(r->pulsesIncrement, 0);
    EXPECT_EQ(r->noiseInitial, 2);
    EXPECT_EQ(r->noiseSteps, 65535);
    EXPECT_EQ(r->noiseIncrement, 7);
    EXPECT_EQ(r->repeats, 12);
    EXPECT_EQ(s.repeats, 100);
}

TEST(SubsetSettingsDialogTest, SettingsChangeOnlyThroughClicks) {
    Settings s;
    s.subsetEmployment = 7;
    s.subsetInitPosition = 33;
    s.subsetProceeding = 2;
    const DialogForm f = subsetSettingsForm(s);
    EXPECT_EQ(f.resource, 111);
    EXPECT_EQ(f.caption, "Subset settings");
    EXPECT_EQ(label(f, 1015), "Single random ");
    EXPECT_EQ(label(f, 1018), "Complete ");
    EXPECT_EQ(label(f, 1021), "Complete ");
    EXPECT_EQ(label(f, 1022), "Probably shifted complete");
    EXPECT_EQ(groupOf(f, 1019), " Subset employment ");
    EXPECT_EQ(groupOf(f, 1022), " Subset proceeding ");
    EXPECT_TRUE(checked(f, 1018));
    EXPECT_TRUE(checked(f, 1022));
    EXPECT_FALSE(checked(f, 1021));
    EXPECT_FALSE(f.find(1020)->enabled);
    EXPECT_EQ(text(f, 1020), "33");

    commitSubsetSettings(untouched(f, true), s);
    EXPECT_EQ(s.subsetEmployment, 7);
    EXPECT_EQ(s.subsetProceeding, 2);
    EXPECT_EQ(s.subsetInitPosition, 33);

    commitSubsetSettings(answer(f, {{1016, "1"}, {1021, "1"}, {1020, "4"}}, true), s);
    EXPECT_EQ(s.subsetEmployment, 7);
    EXPECT_EQ(s.subsetProceeding, 2);
    EXPECT_EQ(s.subsetInitPosition, 33);

    commitSubsetSettings(answer(f, {{1018, "1"}, {1021, "1"}}), s);
    EXPECT_EQ(s.subsetEmployment, 4);
    EXPECT_EQ(s.subsetProceeding, 1);
}

TEST(DrawingSettingsDialogTest, OkCommitsClicksCancelRestores) {
    Settings s;
    s.highlightDetectedPulses = 3;  // nonzero: shown checked, kept unless clicked
    s.shadeOriginalPulses = 0;
    s.highlightTuples = 7;
    s.specialGraphSize = 1;
    s.frameGraphFields = 1;
    const DialogForm f = drawingSettingsForm(s);
    EXPECT_EQ(f.resource, 112);
    EXPECT_EQ(f.caption, "Drawing settings");
    EXPECT_EQ(ids(f), (std::vector<int>{1023, 1024, -2, 1025, 1026, 1027, 1043, 1044, 1, 2}));
    EXPECT_EQ(label(f, 1026), "coloured background");
    EXPECT_EQ(groupOf(f, 1027), " Highlight detected tuples ");
    EXPECT_TRUE(checked(f, 1023));
    EXPECT_FALSE(checked(f, 1024));
    EXPECT_TRUE(checked(f, 1026));

    commitDrawingSettings(untouched(f, true), s);
    EXPECT_EQ(s.highlightDetectedPulses, 3);
    EXPECT_EQ(s.highlightTuples, 7);

    commitDrawingSettings(answer(f, {{1027, "1"}, {1024, "1"}}, true), s);
    EXPECT_EQ(s.highlightTuples, 7);
    EXPECT_EQ(s.shadeOriginalPulses, 0);

    commitDrawingSettings(answer(f, {{1027, "1"}, {1024, "1"}, {1043, "0"}}), s);
    EXPECT_EQ(s.highlightTuples, 0);
    EXPECT_EQ(s.shadeOriginalPulses, 1);
    EXPECT_EQ(s.specialGraphSize, 0);
    EXPECT_EQ(s.highlightDetectedPulses, 3);
    EXPECT_EQ(s.frameGraphFields, 1);
}

TEST(GraphChoiceDialogTest, FormsOfBothResources) {
    Settings s;
    s.handlingCase = 3;
    s.viewCase = 2;
    s.upperBound = 1.234567;
    const DialogForm plain = graphChoiceForm(s, false);
    EXPECT_EQ(plain.resource, 113);
    EXPECT_EQ(plain.caption, " Show Statistical Simulation parameters");
    EXPECT_EQ(ids(plain), (std::vector<int>{-2, 1028, 1029, -3, 1030, 1031, -4, 1032, 1033, 1, 2}));
    EXPECT_TRUE(checked(plain, 1028));
    EXPECT_TRUE(checked(plain, 1031));
    EXPECT_FALSE(checked(plain, 1032));
    EXPECT_EQ(text(plain, 1033), "1.2346");
    EXPECT_EQ(groupOf(plain, 1033), " Upper bound case ");
    EXPECT_EQ(groupOf(plain, 1030), " View case ");

    const DialogForm full = graphChoiceForm(s, true);
    EXPECT_EQ(full.resource, 114);
    EXPECT_EQ(full.caption, "Show Statistical Simulation");
    EXPECT_EQ(label(full, 1034), "recognition error");
    EXPECT_EQ(groupOf(full, 1034), " Handling case ");
    EXPECT_TRUE(checked(full, 1034));
    EXPECT_FALSE(checked(full, 1028));
    EXPECT_EQ(label(full, 1042), "bounds incl.");
    EXPECT_TRUE(checked(full, 1042));
    EXPECT_EQ(groupOf(full, 1042), "");

    s.upperBound = 0.25;
    EXPECT_EQ(text(graphChoiceForm(s, false), 1033), "0.25");
}

TEST(GraphChoiceDialogTest, UpperBoundIsReadOnlyWhenFixed) {
    Settings s;
    s.handlingCase = 3;
    const DialogForm plain = graphChoiceForm(s, false);
    commitGraphChoice(untouched(plain, true), s, false);
    EXPECT_EQ(s.handlingCase, 3);

    commitGraphChoice(answer(plain, {{1033, "7.5"}}), s, false);
    EXPECT_DOUBLE_EQ(s.upperBound, 0.25);

    commitGraphChoice(answer(plain, {{1032, "1"}, {1033, "abc"}, {1029, "1"}}), s, false);
    EXPECT_EQ(s.fixedUpperBound, 1);
    EXPECT_EQ(s.upperBound, 0.0);
    EXPECT_EQ(s.handlingCase, 2);

    const DialogForm fixed = graphChoiceForm(s, true);
    commitGraphChoice(answer(fixed, {{1033, " 2.5e-1x"}, {1034, "1"}, {1042, "0"}}), s, true);
    EXPECT_DOUBLE_EQ(s.upperBound, 0.25);
    EXPECT_EQ(s.handlingCase, 3);
    EXPECT_EQ(s.boundsIncluded, 0);

    commitGraphChoice(answer(graphChoiceForm(s, true),
                             {{1032, "0"}, {1033, "3"}, {1028, "1"}, {1031, "1"}, {1042, "1"}}, true),
                      s, true);
    EXPECT_EQ(s.fixedUpperBound, 1);
    EXPECT_DOUBLE_EQ(s.upperBound, 0.25);
    EXPECT_EQ(s.handlingCase, 3);
    EXPECT_EQ(s.viewCase, 1);
    EXPECT_EQ(s.boundsIncluded, 0);
}

TEST(DialogRunnerTest, OpensTheFormAndReturnsOrCommitsTheAnswer) {
    FakeShell shell;
    Settings s;
    s.wPulsesQuantity = 2;
    s.lpEtalonSequenceDlg = {1, 1, 1};
    shell.values = {{1007, "3"}, {1010, "5 6 7"}};
    const std::optional<PulsesValues> pulses = runPulsesDialog(shell, s, 1, 5);
    ASSERT_TRUE(pulses);
    ASSERT_EQ(shell.shown.size(), 1u);
    EXPECT_EQ(shell.shown[0].resource, 106);
    EXPECT_EQ(pulses->sequence, (std::vector<uint16_t>{5, 6, 1}));
    EXPECT_EQ(pulses->count, 3);
    EXPECT_EQ(s.lpEtalonSequenceDlg, (std::vector<uint16_t>{1, 1, 1}));

    shell.values = {{1042, "0"}, {1032, "1"}};
    shell.cancel = true;
    EXPECT_FALSE(runGraphChoiceDialog(shell, s, true));
    EXPECT_EQ(shell.shown.back().resource, 114);
    EXPECT_EQ(s.boundsIncluded, 1);
    EXPECT_EQ(s.fixedUpperBound, 0);
}

TEST(PulsesDialogTest, ALongPrefilledSequenceReadsBackWhole) {
    // 60 two-digit entries make a text of 179 characters; OK without a change keeps them all.
    Settings s;
    s.wPulsesQuantity = 60;
    s.lpEtalonSequenceDlg.assign(60, 17);
    const DialogForm f = pulsesForm(s, 1, 60);
    EXPECT_EQ(text(f, 1010).size(), 179u);
    EXPECT_EQ(dialogRefusal(f, answer(f, {}), s), "");
    EXPECT_EQ(pulsesValues(answer(f, {}), 60, s)->sequence, std::vector<uint16_t>(60, 17));
}

TEST(DialogRefusalTest, NegativeAndOversizedNumbersAreRefusedNamingTheirField) {
    Settings s;
    s.wPulsesQuantity = 3;
    s.lpEtalonSequenceDlg = {1, 1, 1};
    s.lpRequiredList = std::make_unique<uint16_t[]>(s.wRequiredCapacity);
    for (int i = 0; i < s.wRequiredCapacity; ++i) s.lpRequiredList[i] = static_cast<uint16_t>(i + 1);
    const struct {
        DialogForm form;
        Values values;
        const char* field;
    } cases[] = {
        {seriesEnergyForm(s), {{1001, "-5"}}, "\"Min Length of Interval\" must lie between 1 and 65535 (got \"-5\")"},
        {seriesEnergyForm(s), {{1003, "70000"}}, "\"Max Length of Interval\" must lie between 40 and 65535"},
        {seriesEnergyForm(s), {{1000, "-1"}}, "\"Samples Length\" must lie between 20 and 32787"},
        {seriesEnergyForm(s), {{1004, "0"}}, "\"Etalon Number\" must lie between 1 and 20"},
        {seriesEnergyForm(s), {{1006, "101"}}, "for \"processing series\" must lie between 0 and 100"},
        // The pulse count: the range the dialog states, whichever way it is left.
        {pulsesForm(s, 3, 15), {{1007, "-5"}}, "\"Number of Pulses in Series\" must lie between 3 and 15 (got \"-5\")"},
        {pulsesForm(s, 3, 15), {{1007, "50"}}, "\"Number of Pulses in Series\" must lie between 3 and 15 (got \"50\")"},
        {pulsesForm(s, 3, 15), {{1010, "1,-3,2"}}, "\"Sequence of Etalons in Series\": entry 2 is -3"},
        {pulsesForm(s, 3, 15), {{1011, "-1"}}, "\"Noise Level\" must lie between 0 and 10922"},
        {requiredListForm(s), {{1014, "0"}}, "\"Number of Required Etalons\" must lie between 1 and 20 (got \"0\")"},
        {requiredListForm(s), {{1014, "21"}}, "\"Number of Required Etalons\" must lie between 1 and 20"},
        {requiredListForm(s), {{1014, "2"}, {1013, "3 -4"}}, "\"List of Required Etalons\": entry 2 is -4"},
        {requiredListForm(s), {{1014, "3"}, {1013, "1,2,21"}}, "\"List of Required Etalons\": entry 3 is 21; etalon numbers lie between 1 and 20"},
        {requiredListForm(s), {{1014, "3"}, {1013, "1,2,0"}}, "\"List of Required Etalons\": entry 3 is 0"},
        {simulationRangesForm(s, 0, 0), {{1021, "-5"}}, "\"Number of Repeats\" must lie between 1 and 65535 (got \"-5\")"},
        {simulationRangesForm(s, 0, 0), {{1017, "65536"}}, "\"Number of Pulses in Series\" \"incr.\" must lie"},
        {simulationRangesForm(s, 0, 0), {{1015, "-6"}}, "\"Number of Pulses in Series\" \"from\" must lie"},
        {simulationRangesForm(s, 0, 0), {{1018, "65535"}, {1020, "65535"}},
         "the last noise level, 4294770690, must not exceed 10922"},
        {simulationRangesForm(s, 0, 0), {{1019, "10000"}, {1018, "3"}, {1020, "500"}}, "the last noise level, 11000,"},
        {simulationRangesForm(s, 0, 0), {{1015, "1"}, {1016, "65535"}, {1018, "65535"}, {1020, "0"}},
         "a grid of 65535 pulse counts by 65535 noise levels needs 98301 MB for its results; at most 1024 MB"},
    };
    for (const auto& c : cases) {
        const std::string why = dialogRefusal(c.form, answer(c.form, c.values), s);
        EXPECT_NE(why.find(c.field), std::string::npos) << c.field << " / " << why;
        EXPECT_EQ(dialogRefusal(c.form, answer(c.form, c.values, true), s), "") << "Cancel is never refused";
    }
    // What the forms show, and the edges of the ranges, pass.
    for (const DialogForm& f : {seriesEnergyForm(s), pulsesForm(s, 3, 15), requiredListForm(s),
                                simulationRangesForm(s, 0, 0), subsetSettingsForm(s), drawingSettingsForm(s),
                                graphChoiceForm(s, true)})
        EXPECT_EQ(dialogRefusal(f, answer(f, {}), s), "") << f.resource;
    const DialogForm ranges = simulationRangesForm(s, 0, 0);
    EXPECT_EQ(dialogRefusal(ranges, answer(ranges, {{1019, "10000"}, {1018, "3"}, {1020, "461"}}), s), "");
    const DialogForm required = requiredListForm(s);
    EXPECT_EQ(dialogRefusal(required, answer(required, {{1014, "20"}}), s), "");
}

TEST(DialogRunnerTest, ARefusedOkCommitsNothing) {
    FakeShell shell;
    Settings s;
    shell.values = {{1001, "-5"}, {1000, "600"}, {1004, "3"}};
    EXPECT_FALSE(runSeriesEnergyDialog(shell, s));
    ASSERT_EQ(shell.messages.size(), 1u);
    EXPECT_NE(shell.messages[0].find("Min Length of Interval"), std::string::npos);
    EXPECT_EQ(s.wTmin, Settings{}.wTmin);
    EXPECT_EQ(s.dwSeriesSizeBase, Settings{}.dwSeriesSizeBase);
    EXPECT_EQ(s.etalonNumber, Settings{}.etalonNumber);

    const uint16_t count = s.wRequiredCount;
    shell.values = {{1014, "0"}};
    EXPECT_FALSE(runRequiredListDialog(shell, s));
    EXPECT_EQ(shell.messages.size(), 2u);
    EXPECT_EQ(s.wRequiredCount, count);

    shell.values = {{1018, "65535"}, {1020, "65535"}};
    EXPECT_FALSE(runSimulationRangesDialog(shell, s, 6, 30));
    EXPECT_EQ(s.wNoiseSteps, Settings{}.wNoiseSteps);
    EXPECT_EQ(s.wNoiseIncrement, Settings{}.wNoiseIncrement);
}
