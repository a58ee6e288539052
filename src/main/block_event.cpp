#include "main/block_event.h"

#include <QCoreApplication>

bool TBlockHook::eventFilter(QObject* watched, QEvent* event) {
    if (event->type() != TBlockEvent::BlockType) {
        return QObject::eventFilter(watched, event);
    }
    if (TDataBlock* block = static_cast<TBlockEvent*>(event)->Take()) {
        handler_(block);
    }
    return true;
}

TDigitizer::TPostFunction PostBlocksTo(QObject* receiver) {
    // postEvent is safe from any thread; the event owns the block until taken.
    return [receiver](TDataBlock* block) {
        QCoreApplication::postEvent(receiver, new TBlockEvent(block));
        return true;
    };
}
