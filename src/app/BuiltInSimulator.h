// The simulated adapter and encoder inside the workbench (--simulate), served on a
// pseudo-terminal that the adapter search tries first.
#pragma once

#include <memory>
#include <string>

class BuiltInSimulator {
public:
    BuiltInSimulator();
    ~BuiltInSimulator();
    BuiltInSimulator(const BuiltInSimulator&) = delete;
    BuiltInSimulator& operator=(const BuiltInSimulator&) = delete;

    // `options`: "PRESET[,OPTION=VALUE...]", empty for the default encoder. False with the reason
    // in `error` for options the simulator does not know.
    bool Start(const std::string& options, std::string& error);
    // False with the reason, which names the presets when the preset is unknown, for options the
    // simulator would refuse; nothing is started.
    static bool CheckOptions(const std::string& options, std::string& error);
    void Stop();
    const std::string& PortPath() const { return path_; }

private:
    struct Impl;
    std::unique_ptr<Impl> impl_;
    std::string path_;
};
