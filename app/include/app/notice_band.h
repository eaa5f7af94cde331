#pragma once

#include <QPointer>
#include <QString>
#include <QUrl>
#include <QWidget>

class QPushButton;

#include <cstdint>
#include <functional>
#include <vector>

#include "app/monitor_screen_rules.h"
#include "remote/notice_board.h"

namespace morvane {

/// A notice's text as the band shows it: each folder it names is a link to its whole path.
QString noticeRichText(const NoticeBoard::Shown& notice);

/// The remote's notices, top to bottom, each read whole: wrapped to the width it is given, in the footnote size on a
/// translucent dark card; one that stays has a close button. A click on a folder opens it, or shows its whole path
/// where it is not there; pointing at it shows the path too. Its height follows its width (`heightForWidth`); its
/// size hint is its width with every notice on one line, as far as `maximumNoticeWidth`.
class NoticeBand : public QWidget {
    Q_OBJECT
public:
    static constexpr int maximumNoticeWidth = 640;

    NoticeBand(std::function<void(const QUrl&)> open, std::function<void(std::uint64_t)> dismiss,
               QWidget* parent = nullptr);

    void setNotices(const std::vector<NoticeBoard::Shown>& notices);
    const std::vector<NoticeBoard::Shown>& notices() const { return notices_; }

    QSize sizeHint() const override;
    QSize minimumSizeHint() const override;
    bool hasHeightForWidth() const override { return true; }
    int heightForWidth(int width) const override;
    /// The width it takes within `room`: the narrowest that keeps as few lines as its size hint (or `room`, where
    /// that is narrower) gives, so that a last line is not left with a word.
    int widthWithin(int room) const;

private:
    void openFolder(const QString& link);

    std::function<void(const QUrl&)> open_;
    std::function<void(std::uint64_t)> dismiss_;
    std::vector<NoticeBoard::Shown> notices_;
    std::vector<QPointer<QWidget>> cards_;  // one per notice, in order
};

/// The notices that stay, in the place `placeNotices` gives them, as wide as that place whatever they say: the
/// newest on its card, read whole, its buttons on its last line at the trailing end (the count of the others,
/// which opens the list of them all; "Dismiss all"; its close button), so that a notice coming or going moves none
/// of them; or, where that card does not fit, a bar of one line: the newest cut to it, with the same buttons in
/// the same places, so that its close button is where the card's was; or, where neither fits, the count of them
/// alone, which opens the list. Each read notice goes through `dismiss`.
class StayingNotices : public QWidget {
    Q_OBJECT
public:
    StayingNotices(std::function<void(const QUrl&)> open, std::function<void(std::uint64_t)> dismiss,
                   QWidget* parent = nullptr);
    ~StayingNotices() override;

    /// Oldest first, as the notice board gives them.
    void setNotices(const std::vector<NoticeBoard::Shown>& notices);
    const std::vector<NoticeBoard::Shown>& notices() const { return notices_; }
    /// Which of the card, the bar and the count shows.
    void setPart(NoticePlan::Staying part);
    NoticePlan::Staying part() const { return part_; }
    bool showsCard() const { return part_ == NoticePlan::Staying::card; }
    int cardHeight(int width) const;
    int barHeight() const;
    QSize countSize() const;

    /// The card or the bar, whichever shows.
    QWidget* shown() const;
    /// Its button that lists them all ("3 more", "Show", the count), and "Dismiss all" (null while there is one
    /// notice, and on the count).
    QPushButton* moreButton() const;
    QPushButton* dismissAllButton() const;
    /// The list of them all, while it is open.
    QWidget* list() const;
    void openList();
    void dismissAll();

protected:
    void resizeEvent(QResizeEvent* event) override;

private:
    void rebuild();
    void showPart();
    void refreshList();
    int listWidth() const;
    int listHeight() const;
    void dismissLater(std::vector<std::uint64_t> ids);

    std::function<void(const QUrl&)> open_;
    std::function<void(std::uint64_t)> dismiss_;
    std::vector<NoticeBoard::Shown> notices_;
    NoticePlan::Staying part_ = NoticePlan::Staying::card;
    QPointer<QWidget> card_, bar_, count_;
    QPointer<QWidget> list_;
};

}  // namespace morvane
