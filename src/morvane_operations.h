// Morvane operations: the second camera family, built on the first family's register settings.
#pragma once

#include "tarrow_operations.h"

// The family differs from the first where its capture settings differ (frame rates may be
// fractional), in its TCP stream, and in the JSON texts it exchanges through memory registers:
// lens and temperatures (morvane_lens.cpp), camera save and media (morvane_save.cpp).
// Threads: as the first family; the JSON operations run on API callers' threads.
class MorvaneOperations : public TarrowOperations {
public:
    MorvaneOperations(uint32_t address, std::shared_ptr<RegisterChannel> channel,
                      std::unique_ptr<SensorOperations> sensor);
    ~MorvaneOperations() override;

    // Reads the lens status and then the lens information into the record; throws when either
    // cannot be read (the record's status word then has HX_FLAG_ERR).
    void getLensStatus(HX_LENS_STATUS* out) override;
    // The lens information part of the record (name, focal lengths, zoom divisions, ez flag).
    void getLensInfo(HX_LENS_STATUS* out);
    void setLensSettings(HX_LENS_SETTINGS* in) override;
    bool getTemperature(HX_TEMPERATURE* out) override;

private:
    void readLensStatus(HX_LENS_STATUS& record);

    // The last lens status read, for diagnostics and the lens events.
    HX_LENS_STATUS lensStatus_{};

protected:
    TARROW_CAPTURE::RateEncoding rateEncoding() const override;
    bool streamsOverUdp() const override;
};
