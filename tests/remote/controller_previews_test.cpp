#include "controller_fixture.h"

#include <QBuffer>

namespace morvane {
namespace {

using PreviewsTest = ControllerTest;

Bytes jpeg(QColor color) {
    QImage image(16, 8, QImage::Format_RGB32);
    image.fill(color);
    QByteArray data;
    QBuffer buffer(&data);
    buffer.open(QIODevice::WriteOnly);
    image.save(&buffer, "JPEG");
    return Bytes(data.begin(), data.end());
}

struct Answer {
    int calls = 0;
    QImage picture;
};

// Waiters may be answered after the test body (when the feed goes), so they own what they write to.
CameraFeed::PreviewWaiter into(const std::shared_ptr<Answer>& answer) {
    return [answer](const QImage& picture) {
        ++answer->calls;
        answer->picture = picture;
    };
}

std::shared_ptr<Answer> answerSlot() {
    return std::make_shared<Answer>();
}

class PreviewsFixture : public PreviewsTest {
protected:
    void SetUp() override {
        PreviewsTest::SetUp();
        make();
        connect({{1, "A"}});
        feed = controller->feed(peer(1));
    }
    int requestsSent() const {
        int n = 0;
        for (const auto& c : link->commandsTo(peer(1))) n += c.is<CameraCommand::RequestPreview>() ? 1 : 0;
        return n;
    }
    void answer(const Uuid& id, const Bytes& bytes) {
        deliverMessage(PacketType::preview, GalleryPreview{id, bytes}, 1);
    }

    MonitorController::FeedPtr feed;
};

TEST_F(PreviewsFixture, CallersOfOneCaptureShareOneRequest) {
    const Uuid id;
    auto first = answerSlot(), second = answerSlot();
    controller->preview(id, feed, into(first));
    controller->preview(id, feed, into(second));
    EXPECT_EQ(requestsSent(), 0);  // asked in a later turn of the main thread
    main->runPending();
    EXPECT_EQ(requestsSent(), 1);
    EXPECT_EQ(link->commandsTo(peer(1))[0].as<CameraCommand::RequestPreview>()->id, id);
    answer(id, jpeg(Qt::red));
    EXPECT_EQ(first->calls, 1);
    EXPECT_EQ(second->calls, 1);
    EXPECT_EQ(first->picture.size(), QSize(16, 8));
    EXPECT_EQ(first->picture, second->picture);

    auto cached = answerSlot();
    controller->preview(id, feed, into(cached));
    main->runPending();
    EXPECT_EQ(cached->calls, 1);
    EXPECT_EQ(cached->picture, first->picture);
    EXPECT_EQ(requestsSent(), 1);
    main->advance(20);  // the old time-out changes nothing
    EXPECT_EQ(first->calls, 1);
}

TEST_F(PreviewsFixture, BytesThatAreNoPictureAnswerNoneAtOnce) {
    const Uuid id;
    auto a = answerSlot();
    controller->preview(id, feed, into(a));
    main->runPending();
    answer(id, Bytes{'n', 'o', 'p', 'e'});
    EXPECT_EQ(a->calls, 1);
    EXPECT_TRUE(a->picture.isNull());
    auto again = answerSlot();
    controller->preview(id, feed, into(again));
    main->runPending();
    EXPECT_EQ(requestsSent(), 2);
    EXPECT_EQ(again->calls, 0);
}

TEST_F(PreviewsFixture, AnEarlierTimeOutStillFiresAtItsOwnTime) {
    const Uuid id;
    auto a = answerSlot(), b = answerSlot();
    controller->preview(id, feed, into(a));
    main->runPending();
    main->advance(10);
    answer(id, Bytes{1});  // ends the first request without a picture
    controller->preview(id, feed, into(b));
    main->runPending();
    EXPECT_EQ(requestsSent(), 2);
    main->advance(5.5);  // the first request's time-out: 15 s after it
    EXPECT_EQ(b->calls, 1);
    EXPECT_TRUE(b->picture.isNull());
    main->advance(20);
    EXPECT_EQ(b->calls, 1);
}

TEST_F(PreviewsFixture, NoAnswerWithinFifteenSeconds) {
    const Uuid id;
    auto a = answerSlot();
    controller->preview(id, feed, into(a));
    main->runPending();
    main->advance(14.9);
    EXPECT_EQ(a->calls, 0);
    main->advance(0.2);
    EXPECT_EQ(a->calls, 1);
    EXPECT_TRUE(a->picture.isNull());
    // A late answer is still kept for the next caller.
    answer(id, jpeg(Qt::blue));
    auto later = answerSlot();
    controller->preview(id, feed, into(later));
    main->runPending();
    EXPECT_EQ(later->picture.size(), QSize(16, 8));
    EXPECT_EQ(requestsSent(), 1);
}

TEST_F(PreviewsFixture, DisconnectAnswersEveryWaiterOnce) {
    auto a = answerSlot(), b = answerSlot();
    controller->preview(Uuid(), feed, into(a));
    controller->preview(Uuid(), feed, into(b));
    main->runPending();
    connect({});
    EXPECT_EQ(a->calls, 1);
    EXPECT_EQ(b->calls, 1);
    main->advance(20);
    EXPECT_EQ(a->calls, 1);
    EXPECT_EQ(b->calls, 1);
}

TEST_F(PreviewsFixture, TablesAreBounded) {
    std::vector<std::shared_ptr<Answer>> answers;
    for (std::size_t i = 0; i <= MonitorController::previewRequestLimit; ++i) {
        answers.push_back(answerSlot());
        controller->preview(Uuid(), feed, into(answers.back()));
    }
    main->runPending();
    EXPECT_EQ(requestsSent(), static_cast<int>(MonitorController::previewRequestLimit));
    EXPECT_EQ(answers.back()->calls, 1);  // one too many: none at once
    EXPECT_EQ(answers.front()->calls, 0);

    for (std::size_t i = 0; i < CameraFeed::previewCacheLimit + 5; ++i) answer(Uuid(), jpeg(Qt::gray));
    EXPECT_EQ(feed->previewCacheCount(), CameraFeed::previewCacheLimit);
    main->advance(16);
}

TEST_F(PreviewsFixture, AFeedThatGoesAwayAnswersItsWaiters) {
    auto a = answerSlot();
    {
        auto other = CameraFeed::create(peer(9), "Loose", nullptr);
        other->previewWaiters()[Uuid()].push_back(into(a));
    }
    EXPECT_EQ(a->calls, 1);
    EXPECT_TRUE(a->picture.isNull());
}

}  // namespace
}  // namespace morvane
