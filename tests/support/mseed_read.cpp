#include "support/mseed_read.h"

#include <libmseed.h>

namespace {

std::vector<std::string>* logLines = nullptr;

void LogLine(char* text) {
    if (logLines != nullptr) {
        std::string line = text;
        while (!line.empty() && (line.back() == '\n' || line.back() == '\r')) {
            line.pop_back();
        }
        logLines->push_back(line);
    }
}

}  // namespace

std::vector<int32_t> TMseedFile::Samples() const {
    std::vector<int32_t> all;
    for (const TMseedRecord& record : Records) {
        all.insert(all.end(), record.Samples.begin(), record.Samples.end());
    }
    return all;
}

TMseedFile ReadMseedFile(const std::string& path) {
    TMseedFile file;
    logLines = &file.Log;
    ms_loginit(LogLine, nullptr, LogLine, nullptr);

    MSFileParam* param = nullptr;
    MSRecord* msr = nullptr;
    int result = MS_NOERROR;
    while ((result = ms_readmsr_r(&param, &msr, path.c_str(), 0, nullptr, nullptr, 1, 1, 0)) ==
           MS_NOERROR) {
        TMseedRecord record;
        record.Sequence = msr->sequence_number;
        record.Network = msr->network;
        record.Station = msr->station;
        record.Location = msr->location;
        record.Channel = msr->channel;
        record.StartMicroseconds = msr->starttime;
        record.SampleRate = msr->samprate;
        record.SampleRateFactor = msr->fsdh->samprate_fact;
        record.SampleRateMultiplier = msr->fsdh->samprate_mult;
        record.SampleCount = msr->samplecnt;
        record.Encoding = msr->encoding;
        record.ByteOrder = msr->byteorder;
        record.RecordLength = msr->reclen;
        record.IoFlags = msr->fsdh->io_flags;
        if (msr->Blkt1001 != nullptr) {
            record.TimingQuality = msr->Blkt1001->timing_qual;
            record.FrameCount = msr->Blkt1001->framecnt;
        }
        if (msr->sampletype == 'i' && msr->datasamples != nullptr) {
            const auto* samples = static_cast<const int32_t*>(msr->datasamples);
            record.Samples.assign(samples, samples + msr->numsamples);
        }
        file.Records.push_back(std::move(record));
    }
    file.Ok = result == MS_ENDOFFILE;
    if (!file.Ok) {
        file.Error = ms_errorstr(result);
    }
    ms_readmsr_r(&param, &msr, nullptr, 0, nullptr, nullptr, 0, 0, 0);

    MSTraceList* traces = nullptr;
    if (ms_readtracelist(&traces, path.c_str(), 0, -1.0, -1.0, 0, 1, 0, 0) == MS_NOERROR &&
        traces != nullptr) {
        for (MSTraceID* id = traces->traces; id != nullptr; id = id->next) {
            file.Segments += static_cast<int>(id->numsegments);
        }
    }
    mstl_free(&traces, 0);
    ms_loginit(nullptr, nullptr, nullptr, nullptr);
    logLines = nullptr;
    return file;
}
