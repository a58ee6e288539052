// ProcessBlock: one decoded block counted by the watchdog, taken into the
// model, and shown by every page.
#include "main/led.h"
#include "main/link_session.h"
#include "main/main_form.h"
#include "main/monitor_page.h"

namespace {

bool IsComplete(const TDataBlock* block) {
    return block->Header && block->Gps && block->Samples && block->Sum;
}

}  // namespace

void TMainForm::ProcessBlock(TDataBlock* block) {
    if (destroyed_ || !IsComplete(block)) {
        FreeBlock(block);
        return;
    }
    // The watchdog counts the block; the lamp changes colour.
    session_->BlockArrived();
    led_->Blink();

    // The model takes everything it keeps from the block (a block still queued
    // when the link stopped keeps the rate it came at); the block goes.
    const TBlockOutcome outcome = model_.ProcessBlock(*block, session_->BaudRate());
    FreeBlock(block);

    // The first block at a new line rate confirms it, once.
    if (outcome.ConfirmBaud) {
        session_->Link().ConfirmBaud();
    }
    for (TMonitorPage* page : pages_) {
        if (!page) {
            continue;
        }
        if (outcome.FormatChanged) {
            page->FormatChanged();
        }
        page->BlockArrived(outcome.FullRedraw);
    }
    // The visible page shows what was drawn.
    RefreshActivePage();
    ShowRecordingNews(outcome.Reports, outcome.Notices);
}
