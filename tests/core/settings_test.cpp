#include "core/settings.h"

#include <gtest/gtest.h>

TEST(SettingsTest, DefaultsAndStartupDerivation) {
    Settings s;
    deriveStartupSettings(s);
    EXPECT_EQ(s.dwSeriesSizeBase, 1200u);
    EXPECT_EQ(s.dwSeriesSize, 1200u);
    EXPECT_EQ(s.wNoiseLevelBase, 20);
    EXPECT_EQ(s.wNoiseLevel, 20);
    EXPECT_EQ(s.wLostLevelBase, 25);
    EXPECT_EQ(s.wLostLevel, 25);
    EXPECT_EQ(s.wSavedEnergyCreateBase, 75);
    EXPECT_EQ(s.wSavedEnergyCreate, 75);
    EXPECT_EQ(s.wSavedEnergyProcessBase, 75);
    EXPECT_EQ(s.wSavedEnergyProcess, 75);
    EXPECT_EQ(s.currentEtalon, 1);
    EXPECT_EQ(s.noiseSeed, 10597);
    EXPECT_EQ(s.wTaskTypeSel, TaskType::jointDetection);
    EXPECT_EQ(s.seriesType, SeriesType::unfixedCutoffs);
    EXPECT_EQ(s.wTmin, 40);
    EXPECT_EQ(s.wTmax, 181);
    EXPECT_EQ(s.wImpulseSize, 20);
    EXPECT_EQ(s.wAmplitude, 128);
    EXPECT_EQ(s.repeats, 100);
    EXPECT_EQ(s.wNoiseSteps, 29);
    EXPECT_EQ(s.wNoiseIncrement, 5);
    EXPECT_DOUBLE_EQ(s.upperBound, 0.25);
    EXPECT_EQ(s.subsetEmployment, 4);
    EXPECT_EQ(s.highlightTuples, 2);
}

TEST(SettingsTest, DerivationFollowsTheIndicesInOrder) {
    Settings s;
    s.seriesSizeIndex = 1;
    s.noiseLevelIndex = 3;
    s.lostLevelIndex = 3;
    s.etalonNumber = 7;
    deriveStartupSettings(s);
    EXPECT_EQ(s.dwSeriesSize, 200u);
    EXPECT_EQ(s.wNoiseLevel, 50);
    EXPECT_EQ(s.wLostLevel, 50);
    EXPECT_EQ(s.wSavedEnergyCreate, 50);  // 100 - the lost level just derived
    EXPECT_EQ(s.wSavedEnergyProcess, 50);
    EXPECT_EQ(s.currentEtalon, 7);
}

TEST(SettingsTest, ChoiceEntryNeverReadsOutsideItsTable) {
    EXPECT_EQ(choiceEntry(seriesSizeTable, 1), 200);
    EXPECT_EQ(choiceEntry(seriesSizeTable, 3), 1200);
    EXPECT_EQ(choiceEntry(lostLevelTable, 1), 0);
    EXPECT_EQ(choiceEntry(noiseLevelTable, 0), 20);   // index 0 would name the count
    EXPECT_EQ(choiceEntry(noiseLevelTable, 99), 50);
    EXPECT_EQ(choiceEntry(noiseLevelTable, -5), 20);
}

TEST(SettingsTest, RequiredListFromFlagsIsSortedAndCounted) {
    Settings s;
    s.requiredFlags.fill(0);
    for (int n : {17, 3, 9, 20, 1}) s.requiredFlags[n - 1] = 1;
    rebuildRequiredList(s);
    ASSERT_EQ(s.wRequiredCount, 5);
    const uint16_t expected[] = {1, 3, 9, 17, 20};
    for (int i = 0; i < 5; ++i) EXPECT_EQ(s.lpRequiredList[i], expected[i]);

    // Flags beyond the alphabet size are not listed.
    s.wAlphabetSize = 10;
    rebuildRequiredList(s);
    EXPECT_EQ(s.wRequiredCount, 3);

    s.requiredFlags.fill(0);
    rebuildRequiredList(s);
    EXPECT_EQ(s.wRequiredCount, 0);
}
