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
    EXPECT_EQ(s.wTaskTypeSel, 4);
    EXPECT_EQ(s.seriesType, 8u);
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

TEST(SettingsTest, PulseCountBounds) {
    PulseCountBounds b{};
    ASSERT_EQ(pulseCountBounds(1200, 20, 40, 181, b), 1);
    EXPECT_EQ(b.minimum, 6);
    EXPECT_EQ(b.maximum, 30);
    EXPECT_EQ(b.suggested, 18);

    ASSERT_EQ(pulseCountBounds(200, 20, 40, 181, b), 1);
    EXPECT_EQ(b.minimum, 1);  // (200 + 19) / 181
    EXPECT_EQ(b.maximum, 5);  // (200 - 20 + 40) / 40
    EXPECT_EQ(b.suggested, 3);

    // No bounds exist for a zero limit: refused, the previous values stay.
    const PulseCountBounds before = b;
    EXPECT_EQ(pulseCountBounds(1200, 20, 0, 181, b), 0);
    EXPECT_EQ(pulseCountBounds(1200, 20, 40, 0, b), 0);
    EXPECT_EQ(pulseCountBounds(10, 100, 40, 181, b), 0);  // would wrap below zero
    EXPECT_EQ(b.minimum, before.minimum);
    EXPECT_EQ(b.maximum, before.maximum);
}

TEST(SettingsTest, EffectiveTaskType) {
    for (uint32_t series : {36u, 40u}) {
        EXPECT_EQ(effectiveTaskType(1, series), 36);
        EXPECT_EQ(effectiveTaskType(2, series), 40);
        EXPECT_EQ(effectiveTaskType(4, series), 4);
        EXPECT_EQ(effectiveTaskType(64, series), 64);
    }
    for (uint32_t series : {1u, 2u, 4u, 8u, 16u, 32u})
        for (uint16_t task : {1, 2, 4, 64}) EXPECT_EQ(effectiveTaskType(task, series), task);
}

TEST(SettingsTest, UnfixedCountTypes) {
    for (uint32_t t : {4u, 8u, 40u}) EXPECT_TRUE(isUnfixedCountSeriesType(t)) << t;
    for (uint32_t t : {1u, 2u, 16u, 32u, 36u}) EXPECT_FALSE(isUnfixedCountSeriesType(t)) << t;
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

TEST(SettingsTest, NameTables) {
    EXPECT_STREQ(taskTypeNames[3], "joint detection and identification");
    EXPECT_STREQ(seriesTypeNames[5], "unknown number of whole pulses tuples");
}
