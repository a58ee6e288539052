// What the main window asks of each of its pages. A page reads the monitor
// model; these calls say what has just happened to it. Every call has a
// default that does nothing, so a page implements only what concerns it.
#pragma once

class TMonitorPage {
  public:
    virtual ~TMonitorPage() = default;

    // Every value emptied and every per-channel figure hidden (window creation).
    virtual void ResetDisplays() {}
    // Monitoring starts (again): the histories have just been emptied.
    virtual void MonitoringStarted() {}
    // The newest block's format differs from the previous block's; the model
    // has already reset its histories. Called before BlockArrived.
    virtual void FormatChanged() {}
    // The model has taken in a block. full: everything drawn again, else the
    // newest block added.
    virtual void BlockArrived(bool full) { (void)full; }
    // The colour settings changed: list colours taken over, everything redrawn.
    virtual void ColoursChanged() {}

    // The visible page's repaint of its bands (graph pages only).
    virtual void RefreshPage() {}
    // U (in) and D (out); with Shift (extreme) to the largest or smallest zoom.
    // Acts only when the matching button is enabled.
    virtual void ZoomKey(bool in, bool extreme) {
        (void)in;
        (void)extreme;
    }
    // X (longer: the shown span doubled) and Z (shorter: halved).
    virtual void SpanKey(bool longer) { (void)longer; }
};
