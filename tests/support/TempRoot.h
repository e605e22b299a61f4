#pragma once
#include <string>

// Every test process runs in a fresh root folder of its own (made by the test main), so that stored
// files, the shell log and device links of one test never meet another's.
std::string test_root();
// A fresh empty folder below the test root.
std::string make_temp_dir(const std::string& name);
// The whole content of a file ("" when missing).
std::string read_file(const std::string& path);
void write_file(const std::string& path, const std::string& content);
// The shell command that runs one of the built programs here: under the emulator in a cross build.
std::string program_command(const std::string& program);
// Captures what the code under test prints on standard output.
class StdoutCapture {
public:
    StdoutCapture();
    ~StdoutCapture();
    std::string text(); // stops the capture and returns what was printed
private:
    int saved_ = -1;
    std::string path_;
    bool done_ = false;
};
