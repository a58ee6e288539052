// ProcessBlock: one decoded block turned into everything the pages show and
// the model keeps, in a fixed order.
#include <QTimer>

#include "main/channels_page.h"
#include "main/control_page.h"
#include "main/gps_page.h"
#include "main/header_page.h"
#include "main/led.h"
#include "main/main_form.h"
#include "main/model/gps_texts.h"
#include "main/model/header_texts.h"

void TMainForm::ProcessBlock(TDataBlock* block) {
    if (destroyed_ || !block->Header || !block->Gps || !block->Samples) {
        FreeBlock(block);
        return;
    }
    const TBlockHeader& h = *block->Header;

    // 1-2: the watchdog counts the block; the lamp changes colour.
    ++LinkWatchdog;
    led_->SetBrushColor(led_->BrushColor() == TLed::Green ? TLed::Lime : TLed::Green);

    // 3: the block's format.
    format_.ChannelCount = h.NumComponents;
    format_.SampleRate = SampleRateFromTotal(h.TotalRate, format_.ChannelCount);
    samplesPerBlock_ = static_cast<int>(
        SamplesPerBlock(block->Samples->DatLength, h.BytesPerSample, format_.ChannelCount));
    format_.BytesPerSample = h.BytesPerSample;
    format_.GainBits = GainBitsFromCode(h.GainCode, format_.ChannelCount);
    // A block still queued when the link stopped keeps the rate it came at.
    if (const TCommPort* port = link_->Port()) {
        format_.BaudRate = static_cast<int>(port->BaudRate());
    }

    // 4: the first block at a new line rate confirms it, once.
    if (previousFormat_.BaudRate != 0 && previousFormat_.BaudRate != format_.BaudRate) {
        link_->ConfirmBaud();
    }

    // 5-7: header values, filter type, gains.
    format_.FilterCode = FilterCodeFrom(h.FilterType, h.DeviceId);
    for (int c = 0; c < format_.ChannelCount && c < MaxChannels; ++c) {
        gainFactor_[c] = GainFactorOf(format_.GainBits, c);
    }
    headerPage_->Show(HeaderTexts(h, format_, separators_));

    // 8: a change of format resets the pages and histories.
    const bool formatChange = !(format_ == previousFormat_);
    if (formatChange) {
        // The pages follow the new channel set before the histories restart.
        channelsPage_->EnableDisplayChecks();
        channelsPage_->RebuildWaveList();
        controlPage_->SyncControlPage(format_);
        ResetChannelHistories();
        if (settings_.UseSerialNumber) {
            settings_.Station = h.SerialNumber;  // made safe for file names where it is used
        }
        settings_.Baud = format_.BaudRate;
    }
    UpdateBlockTime(*block, formatChange);

    // 9: the block time.
    gpsPage_->SetSystemTime(QString::fromStdString(FormatBlockTime(blockTime_)));

    // 10: the samples into the histories, rings and statistics.
    channels_.UpdateChannelStatistics(*block->Samples, format_.ChannelCount, samplesPerBlock_,
                                      format_.SampleRate, gainFactor_);

    // 11: one temperature reading per channel, with the channel's offset.
    std::array<double, MaxChannels> offsets{};
    for (int c = 0; c < MaxChannels; ++c) {
        offsets[c] = channels_.ChannelStats(c).Offset;
    }
    StoreTemperatures(temperatures_, h, format_.ChannelCount, settings_.StoredHours, offsets,
                      channelTemperature_);

    // 12: the Channels page: figures, the newest block (everything after a
    // change of format), zoom buttons.
    channelsPage_->ShowChannelDetails(formatChange);
    channelsPage_->DrawChannelTraces(formatChange);
    channelsPage_->UpdateZoomButtons(true);

    // 14: the GPS page.
    gpsPage_->Apply(GpsPageUpdate(*block->Gps, h.BlockCount, h.LastValidGpsBlock, separators_));

    // 15-16: this format is the one the next block is compared with; the block goes.
    previousFormat_ = format_;
    FreeBlock(block);

    // 17: the visible page shows what was drawn.
    RefreshActivePage();
}

void TMainForm::UpdateBlockTime(const TDataBlock& block, bool reset) {
    blockTime_ = ::UpdateBlockTime(blockTime_, *block.Gps, block.Header->BlockCount,
                                   block.Header->LastValidGpsBlock, reset, TBlockTime::Now());
}

// The channel statistics, histories and rings, and the temperature histories
// with each channel's temperature.
void TMainForm::ResetChannelHistories() {
    channels_.ResetChannelHistories([this] {
        ClearTemperatureHistories(temperatures_);
        channelTemperature_.fill(0);
    });
}
