#pragma once

// An audio device that exchanges 16-sample stereo frames with the engine through Codec's shared
// frame buffer. Constructing one registers it with Codec (in order of construction); Codec::search
// probes them and keeps the first that answers.
//
// Threads: initializeIO and initialize run once on the thread that calls Codec::search (the board's
// "eventTasks" on the unit); start, audioRead and audioWrite run only on "audioLoop".
class CodecInterface {
public:
    explicit CodecInterface(const char* name);

    // Probes the device: true when it is present and ready to start.
    virtual bool initialize() = 0;
    // Waits for the next input frame (yielding, never sleeping on the unit), converts it into
    // Codec's frame times `gain` and returns true; false when no frame is ready yet.
    virtual bool audioRead(float gain);
    // Sends Codec's frame times `gain` (full scale +-1.0); true when it was written.
    virtual bool audioWrite(float gain);
    // Called once by "audioLoop" before streaming. True: the device drives the engine itself by
    // calling `process` per frame (or cannot run), and "audioLoop" ends.
    virtual bool start(void (*process)());
    // Called before initialize() during the search.
    virtual void initializeIO();
    // Leaves the registry (and stops being the active device).
    virtual ~CodecInterface();
    virtual void setInputGain(int channel, int gain) = 0;

    const char* getName() const { return name; }

protected:
    const char* name;
};
