#include "archive/ArchiveQueue.h"

#include "common/AtomicFile.h"
#include "support/Test.h"

using namespace std::chrono_literals;

namespace {

ArchiveQueue::Item item(qint64 id, ArchiveQueue::Item::State state = ArchiveQueue::Item::State::pending)
{
    ArchiveQueue::Item made;
    made.adamID = id;
    made.name = QString("Приложение %1").arg(id);
    made.state = state;
    return made;
}

QList<qint64> ids(const ArchiveQueue& queue)
{
    QList<qint64> result;
    for (const auto& queued : queue.items())
        result.append(queued.adamID);
    return result;
}

} // namespace

TEST(ArchiveQueue, TakesUpOnlyItsOwnAccountsQueueAndSurvivesBadFiles)
{
    TempHome home;
    using State = ArchiveQueue::Item::State;
    // Paused, so opening shows the queue without running it.
    const QByteArray anna =
        ArchiveQueue::encode({"anna@example.com", true, {item(1, State::saved), item(2), item(3, State::running)}});
    const struct {
        const char* what;
        QByteArray file;
        QList<qint64> opened; // for anna
    } cases[] = {
        {"her own", anna, {1, 2, 3}},
        {"garbage", "{\"account\":\"anna@example.com\",\"items\":[", {}},
        {"not an object", "[1,2]", {}},
        {"items not a list", R"({"account":"anna@example.com","items":{}})", {}},
        {"bad items skipped, repeats dropped",
         R"({"account":"anna@example.com","paused":true,"items":[{"id":5,"name":"A","state":"pending"},
            {"id":"6","name":"B","state":"pending"},{"id":7,"state":"pending"},{"id":8,"name":"C","state":"odd"},
            {"id":-9,"name":"D","state":"pending"},{"id":5,"name":"A again","state":"pending"}]})",
         {5}},
    };
    for (const auto& example : cases) {
        ASSERT_TRUE(AtomicFile::write(ArchiveQueue::filePath(), example.file));
        ArchiveQueue queue;
        queue.open("anna@example.com");
        EXPECT_EQ(ids(queue), example.opened) << example.what;
        queue.open("ivan@example.com");
        EXPECT_TRUE(queue.isEmpty()) << example.what;
    }

    ASSERT_TRUE(AtomicFile::write(ArchiveQueue::filePath(), anna));
    ArchiveQueue queue;
    queue.open("anna@example.com");
    EXPECT_EQ(queue.items()[2].state, State::pending) << "cut short by a quit: still to do";
    EXPECT_TRUE(queue.isQueued(2));
    EXPECT_FALSE(queue.isQueued(1));

    // Opened for another account, her file stays as she left it.
    queue.open("ivan@example.com");
    queue.pause();
    EXPECT_EQ(AtomicFile::read(ArchiveQueue::filePath()), anna);
}

TEST(ArchiveQueue, KnowsApplesRateLimitAndWaitsLongerEachTime)
{
    const ArchiveQueue::Settings settings{1, 5s, 60s, 600s};
    const QList<std::chrono::milliseconds> waits{
        ArchiveQueue::backoffDelay(settings, 1), ArchiveQueue::backoffDelay(settings, 2),
        ArchiveQueue::backoffDelay(settings, 4), ArchiveQueue::backoffDelay(settings, 40)};
    EXPECT_EQ(waits, (QList<std::chrono::milliseconds>{60s, 120s, 480s, 600s}));
}
