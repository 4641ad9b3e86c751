#include "app/NoticeBoxes.h"

#include "platform/Platform.h"

#include <QPointer>

void TNoticeBoxes::Post(const TNotice &notice)
{
    if (FOnScreen == notice || FWaiting.contains(notice))
        return;
    FWaiting.append(notice);
    Schedule();
}

void TNoticeBoxes::ShowAll()
{
    // Each box runs its own loop, where the ShowNext that Post scheduled would open the next box on
    // top of this one (the operator would read them last first): on screen, the rest wait here.
    QPointer<TNoticeBoxes> self(this);
    const std::optional<TNotice> outer = FOnScreen;
    while (!FWaiting.isEmpty()) {
        const TNotice notice = FWaiting.takeFirst();
        FOnScreen = notice;
        Show(notice);
        if (!self)
            return;
    }
    FOnScreen = outer;
}

void TNoticeBoxes::Schedule()
{
    if (FScheduled || FOnScreen || FWaiting.isEmpty())
        return;
    FScheduled = true;
    QMetaObject::invokeMethod(
        this,
        [this] {
            FScheduled = false;
            ShowNext();
        },
        Qt::QueuedConnection);
}

void TNoticeBoxes::ShowNext()
{
    if (FOnScreen || FWaiting.isEmpty())
        return;
    // The box runs its own loop: the Run goes on meanwhile, and what it reports queues up here. The
    // window may be closed and destroyed with its boxes meanwhile.
    QPointer<TNoticeBoxes> self(this);
    const TNotice notice = FWaiting.takeFirst();
    FOnScreen = notice;
    Show(notice);
    if (!self)
        return;
    FOnScreen.reset();
    Schedule();
}

void TNoticeBoxes::Show(const TNotice &notice)
{
    Platform::TMsgIcon icon = Platform::TMsgIcon::None;
    switch (notice.Kind) {
    case TNoticeKind::Information: icon = Platform::TMsgIcon::None; break;
    case TNoticeKind::Warning: icon = Platform::TMsgIcon::Warning; break;
    case TNoticeKind::Error: icon = Platform::TMsgIcon::Error; break;
    }
    Platform::MessageBox(notice.Text, notice.Caption, icon);
}
