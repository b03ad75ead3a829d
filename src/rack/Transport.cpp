#include "rack/Transport.h"

#include <algorithm>
#include <cmath>

#include "diag/DiagLog.h"

namespace trelvo::rack {

Transport::Transport(TVTI& timeInfo) : info(timeInfo) {}

void Transport::pressStop() {
    request(TransportRequest::Stop);
    if (onSurfaceNotice) onSurfaceNotice(91, 1);
}

void Transport::pressStartPause() {
    if (!info.hasFlags(kVstTransportPlaying)) {
        request(TransportRequest::Play);
        if (onSurfaceNotice) onSurfaceNotice(91, 2);
    } else {
        request(TransportRequest::Pause);
        if (onSurfaceNotice) onSurfaceNotice(91, 3);
    }
}

void Transport::pressRewind() {
    request(TransportRequest::Rewind);
}

void Transport::setTempo(int beatsPerMinute) {
    info.set(TimeField::Tempo, static_cast<double>(std::clamp(beatsPerMinute, kTempoMin, kTempoMax)));
}

void Transport::setTimeSignature(int numerator, int denominator) {
    info.set(TimeIntField::TimeSigNumerator, std::clamp(numerator, kTimeSigMin, kTimeSigMax));
    info.set(TimeIntField::TimeSigDenominator, std::clamp(denominator, kTimeSigMin, kTimeSigMax));
}

void Transport::apply(TransportRequest request, std::int64_t position) noexcept {
    const auto state = static_cast<TransportState>(current.load());
    switch (request) {
    case TransportRequest::Stop:
        current = static_cast<int>(TransportState::Stopped);
        info.clearFlags(kVstTransportPlaying);
        info.setFlags(kVstTransportChanged);
        info.set(TimeField::SamplePos, 0.0);
        info.set(TimeField::PpqPos, 0.0);
        break;
    case TransportRequest::Play:
        if (state == TransportState::Stopped) start = position;
        if (state == TransportState::Paused) start = position - paused.load();
        current = static_cast<int>(TransportState::Playing);
        info.setFlags(kVstTransportPlaying | kVstTransportChanged);
        break;
    case TransportRequest::Pause:
        current = static_cast<int>(TransportState::Paused);
        paused = position - start.load();
        info.clearFlags(kVstTransportPlaying);
        info.setFlags(kVstTransportChanged);
        break;
    case TransportRequest::Rewind:
        start = position;
        if (state == TransportState::Paused) {
            paused = 0;
            info.set(TimeField::SamplePos, 0.0);
        }
        break;
    case TransportRequest::RewindWhilePaused:
        if (state == TransportState::Paused) {
            paused = 0;
            info.set(TimeField::SamplePos, 0.0);
        }
        break;
    case TransportRequest::None: break;
    }
}

void Transport::updateSamplePos(std::int64_t position) noexcept {
    bool traced = false;
    if (traceCounter > 0) {
        --traceCounter;
        traced = traceCounter > 0 && diag::theLog().switches.writeLog.load(std::memory_order_relaxed);
    }
    if (traced) diag::hookedLog("  ASIOupdateSamplePos begin:");

    const auto request = static_cast<TransportRequest>(pending.exchange(static_cast<int>(TransportRequest::None)));
    apply(request, position);
    if (const int beats = jogBeats.exchange(0); beats != 0) applyJog(beats);
    if (info.hasFlags(kVstTransportPlaying))
        info.set(TimeField::SamplePos, static_cast<double>(position - start.load()));

    if (traced) diag::hookedLog("  ASIOupdateSamplePos end.");
}

void Transport::applyJog(int beats) noexcept {
    if (state() != TransportState::Paused) return;
    const double tempo = info.get(TimeField::Tempo);
    const double rate = info.get(TimeField::SampleRate);
    if (tempo <= 0.0 || rate <= 0.0) return;
    const double samplesPerBeat = rate * 60.0 / tempo;
    const double beat = static_cast<double>(paused.load()) / samplesPerBeat;
    double target = beats > 0 ? std::floor(beat + 1e-9) + beats : std::ceil(beat - 1e-9) + beats;
    if (target < 0.0) target = 0.0;
    const auto position = static_cast<std::int64_t>(std::llround(target * samplesPerBeat));
    paused = position;
    info.set(TimeField::SamplePos, static_cast<double>(position));
    info.set(TimeField::PpqPos, target);
    info.setFlags(kVstTransportChanged);
}

void Transport::resetForAudio() noexcept {
    request(TransportRequest::Stop);
    info.set(TimeField::SamplePos, 0.0);
    info.set(TimeField::PpqPos, 0.0);
    info.clearFlags(kVstTransportPlaying);
    start = 0;
}

} // namespace trelvo::rack
