#include "archive/DelistingRadar.h"

#include "common/AtomicFile.h"
#include "common/ReferenceDate.h"
#include "support/Test.h"

namespace {

QDateTime day(int n)
{
    return ReferenceDate::epoch().addDays(8000 + n);
}

DelistingRadar::Sighting seen(qint64 id, int when)
{
    return {id, true, day(when)};
}

DelistingRadar::Sighting gone(qint64 id, int when)
{
    return {id, false, day(when)};
}

} // namespace

TEST(DelistingRadar, TellsWhenAnAppSeenInTheStoreLeavesAndWhenItComesBack)
{
    TempHome home;
    const struct {
        const char* what;
        QList<DelistingRadar::Sighting> pass;
        QList<qint64> vanished;
        std::optional<QDateTime> goneSince1; // of App ID 1
    } passes[] = {
        {"first look: one there, one already gone", {seen(1, 1), gone(2, 1)}, {}, std::nullopt},
        {"the same answers again", {seen(1, 1), gone(2, 1)}, {}, std::nullopt},
        {"app 1 leaves", {gone(1, 3), gone(2, 3)}, {1}, day(3)},
        {"still gone: not new again", {gone(1, 4)}, {}, day(3)},
        {"an answer older than the departure", {seen(1, 2)}, {}, day(3)},
        {"back in the store", {seen(1, 5)}, {}, std::nullopt},
        {"and gone once more", {gone(1, 6)}, {1}, day(6)},
    };
    for (const auto& pass : passes) {
        DelistingRadar radar; // read from the file each time, as after a restart
        EXPECT_EQ(radar.observe(pass.pass), pass.vanished) << pass.what;
        EXPECT_EQ(radar.goneSince(1), pass.goneSince1) << pass.what;
        EXPECT_EQ(radar.goneSince(2), std::nullopt) << "never seen in the store: no date to tell";
    }
}

TEST(DelistingRadar, DropsOnlyTheEntriesItCannotRead)
{
    const auto entries = DelistingRadar::decode(R"({"1":{"lastSeenInStore":10},"2":{"firstSeenGone":"x"},
        "3":{"lastSeenInStore":5,"firstSeenGone":20},"abc":{"firstSeenGone":1},"-4":{"firstSeenGone":1},
        "5":[],"6":{},"7":{"firstSeenGone":1e300},"08":{"firstSeenGone":1}})");
    EXPECT_EQ(entries.keys().size(), 2);
    EXPECT_EQ(entries.value(1).lastSeenInStore, ReferenceDate::fromSeconds(10));
    EXPECT_EQ(entries.value(3).firstSeenGone, ReferenceDate::fromSeconds(20));
    EXPECT_TRUE(DelistingRadar::decode("garbage").isEmpty());
    EXPECT_EQ(DelistingRadar::decode(DelistingRadar::encode(entries)), entries);
    EXPECT_EQ(DelistingRadar::encode({{3, {day(0), day(1)}}}),
              R"({"3":{"firstSeenGone":691286400,"lastSeenInStore":691200000}})");
}
