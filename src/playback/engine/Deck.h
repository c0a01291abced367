#pragma once
// One deck of the engine: its three parts, one for each thread that plays it, and what they share.
#include "playback/engine/DeckControl.h"
#include "playback/engine/DeckDecoder.h"
#include "playback/engine/DeckMixer.h"
#include "playback/engine/DeckShared.h"
#include "playback/engine/SpscRing.h"

namespace quendo::audio {

// Made and torn down on the interface thread, members in order and back: the decoder thread starts
// with `decoder` and is joined (or, held by a file that stopped answering, given up on: it touches
// nothing of the deck again) before the ring and the shared state go. The mixer must have stopped
// (the device closed) before a deck goes.
struct Deck {
    Deck(EndNotices& notices, DecodeSource& source, int rate)
        : decoder(ring.writer(), shared, notices, source, rate),
          mixer(ring.reader(), shared, rate),
          control(shared, decoder, notices, rate) {}

    SpscRing ring{kRingFrames};
    DeckShared shared;
    DeckDecoder decoder;
    DeckMixer mixer;
    DeckControl control;
};

}  // namespace quendo::audio
