// Golden layouts of the public records: offsets and sizes typed from the record tables.
#include <hx/hx.h>

#include "layout_probe.h"

namespace {

TEST(RecordLayout, AnalogGainAndBatteryInfo) {
    {
        using Rec = HX_ANALOG_GAIN;
        EXPECT_EQ(sizeof(Rec), 16u);
        EXPECT_HEADER_AT_START();
        EXPECT_FIELD_AT(gain, 8);
        EXPECT_FIELD_AT(gain_caps, 12);
    }
    {
        using Rec = HX_BATTERY_INFO;
        EXPECT_EQ(sizeof(Rec), 16u);
        EXPECT_HEADER_AT_START();
        EXPECT_FIELD_AT(battery_state, 8);
        EXPECT_FIELD_AT(charge, 12);
    }
}

TEST(RecordLayout, CameraInformationTextsHaveTheirRoom) {
    using Rec = HX_CAMERA_INFORMATION;
    EXPECT_EQ(sizeof(Rec), 308u);
    EXPECT_HEADER_AT_START();
    // The probe fills each whole array, so this also pins every room (49, 33, ... bytes).
    EXPECT_FIELD_AT(adapter_name, 8);
    EXPECT_EQ(sizeof(Rec::adapter_name), 49u);
    EXPECT_FIELD_AT(device_version, 64);
    EXPECT_EQ(sizeof(Rec::device_version), 33u);
    EXPECT_FIELD_AT(manufacturer_info, 104);
    EXPECT_EQ(sizeof(Rec::manufacturer_info), 49u);
    EXPECT_FIELD_AT(manufacturer_name, 160);
    EXPECT_EQ(sizeof(Rec::manufacturer_name), 33u);
    EXPECT_FIELD_AT(model_name, 200);
    EXPECT_EQ(sizeof(Rec::model_name), 33u);
    EXPECT_FIELD_AT(serial_number, 240);
    EXPECT_EQ(sizeof(Rec::serial_number), 33u);
    EXPECT_FIELD_AT(user_name, 280);
    EXPECT_EQ(sizeof(Rec::user_name), 17u);
}

TEST(RecordLayout, CaptureSettingsWordByWord) {
    using Rec = HX_CAPTURE_SETTINGS;
    EXPECT_EQ(sizeof(Rec), 224u);
    EXPECT_HEADER_AT_START();
    EXPECT_FIELD_AT(sensor_group_flags, 8);
    EXPECT_FIELD_AT(bit_mode, 12);
    EXPECT_FIELD_AT(bit_mode_flags, 16);
    EXPECT_FIELD_AT(bit_mode_caps, 20);
    EXPECT_FIELD_AT(bns_mode, 24);
    EXPECT_FIELD_AT(bns_mode_flags, 28);
    EXPECT_FIELD_AT(bns_mode_caps, 32);
    EXPECT_FIELD_AT(fpn_mode, 36);
    EXPECT_FIELD_AT(fpn_mode_flags, 40);
    EXPECT_FIELD_AT(fpn_mode_caps, 44);
    EXPECT_FIELD_AT(width, 48);
    EXPECT_FIELD_AT(width_flags, 52);
    EXPECT_FIELD_AT(width_max, 56);
    EXPECT_FIELD_AT(width_min, 60);
    EXPECT_FIELD_AT(width_constr, 64);
    EXPECT_FIELD_AT(height, 68);
    EXPECT_FIELD_AT(height_flags, 72);
    EXPECT_FIELD_AT(height_max, 76);
    EXPECT_FIELD_AT(height_min, 80);
    EXPECT_FIELD_AT(height_constr, 84);
    EXPECT_FIELD_AT(x_offset, 88);
    EXPECT_FIELD_AT(x_offset_flags, 92);
    EXPECT_FIELD_AT(x_offset_max, 96);
    EXPECT_FIELD_AT(x_offset_min, 100);
    EXPECT_FIELD_AT(x_offset_constr, 104);
    EXPECT_FIELD_AT(y_offset, 108);
    EXPECT_FIELD_AT(y_offset_flags, 112);
    EXPECT_FIELD_AT(y_offset_max, 116);
    EXPECT_FIELD_AT(y_offset_min, 120);
    EXPECT_FIELD_AT(y_offset_constr, 124);
    EXPECT_FIELD_AT(record_group_flags, 128);
    EXPECT_FIELD_AT(record_mode, 132);
    EXPECT_FIELD_AT(record_mode_flags, 136);
    EXPECT_FIELD_AT(length, 140);
    EXPECT_FIELD_AT(length_flags, 144);
    EXPECT_FIELD_AT(length_max, 148);
    EXPECT_FIELD_AT(trigger, 152);
    EXPECT_FIELD_AT(trigger_flags, 156);
    EXPECT_FIELD_AT(rate, 160);
    EXPECT_FIELD_AT(rate_divisor, 164);
    EXPECT_FIELD_AT(rate_flags, 168);
    EXPECT_FIELD_AT(rate_max, 172);
    EXPECT_FIELD_AT(rate_min, 176);
    EXPECT_FIELD_AT(rate_constr, 180);
    EXPECT_FIELD_AT(exposure_group_flags, 184);
    EXPECT_FIELD_AT(exposure, 188);
    EXPECT_FIELD_AT(exposure_flags, 192);
    EXPECT_FIELD_AT(exposure_max, 196);
    EXPECT_FIELD_AT(exposure_min, 200);
    EXPECT_FIELD_AT(exposure_constr, 204);
    EXPECT_FIELD_AT(low_light, 208);
    EXPECT_FIELD_AT(low_light_flags, 212);
    EXPECT_FIELD_AT(low_light_max, 216);
    EXPECT_FIELD_AT(low_light_min, 220);
}

TEST(RecordLayout, Command) {
    using Rec = HX_COMMAND;
    EXPECT_EQ(sizeof(Rec), 24u);
    EXPECT_HEADER_AT_START();
    EXPECT_FIELD_AT(code, 8);
    EXPECT_FIELD_AT(code_flags, 12);
    EXPECT_FIELD_AT(code_caps, 16);
    EXPECT_FIELD_AT(shutdown_request, 20);
}

TEST(RecordLayout, DownloadSettings) {
    using Rec = HX_DOWNLOAD_SETTINGS;
    EXPECT_EQ(sizeof(Rec), 88u);
    EXPECT_HEADER_AT_START();
    EXPECT_FIELD_AT(turbo_packet_length, 8);
    EXPECT_FIELD_AT(turbo_packet_length_flags, 12);
    EXPECT_FIELD_AT(turbo_delay, 16);
    EXPECT_FIELD_AT(turbo_delay_flags, 20);
    EXPECT_FIELD_AT(start, 24);
    EXPECT_FIELD_AT(start_flags, 28);
    EXPECT_FIELD_AT(start_max, 32);
    EXPECT_FIELD_AT(stop, 36);
    EXPECT_FIELD_AT(stop_flags, 40);
    EXPECT_FIELD_AT(stop_max, 44);
    EXPECT_FIELD_AT(jpeg_quality, 48);
    EXPECT_FIELD_AT(jpeg_quality_flags, 52);
    EXPECT_FIELD_AT(jpeg_quality_min, 56);
    EXPECT_FIELD_AT(jpeg_quality_max, 60);
    EXPECT_FIELD_AT(format, 64);
    EXPECT_FIELD_AT(format_flags, 68);
    EXPECT_FIELD_AT(format_caps, 72);
    EXPECT_FIELD_AT(rate_control_flags, 76);
    EXPECT_FIELD_AT(pause_count, 80);
    EXPECT_FIELD_AT(resume_count, 84);
}

TEST(RecordLayout, IoSettingsSignalGroups) {
    using Rec = HX_IO_SETTINGS;
    EXPECT_EQ(sizeof(Rec), 364u);
    EXPECT_HEADER_AT_START();
    EXPECT_FIELD_AT(io_family_words, 8);
    EXPECT_EQ(sizeof(Rec::io_family_words), 12u);

    EXPECT_FIELD_AT(trigger_in_group_flags, 20);
    EXPECT_FIELD_AT(trigger_in_enable, 24);
    EXPECT_FIELD_AT(trigger_in_enable_flags, 28);
    EXPECT_FIELD_AT(trigger_in_enable_caps, 32);
    EXPECT_FIELD_AT(trigger_in_edge, 36);
    EXPECT_FIELD_AT(trigger_in_edge_flags, 40);

    EXPECT_FIELD_AT(trigger_out_group_flags, 44);
    EXPECT_FIELD_AT(trigger_out_enable, 48);
    EXPECT_FIELD_AT(trigger_out_enable_flags, 52);
    EXPECT_FIELD_AT(trigger_out_enable_caps, 56);
    EXPECT_FIELD_AT(trigger_out_pass_thru, 60);
    EXPECT_FIELD_AT(trigger_out_pass_thru_flags, 64);
    EXPECT_FIELD_AT(trigger_out_invert, 68);
    EXPECT_FIELD_AT(trigger_out_invert_flags, 72);
    EXPECT_FIELD_AT(trigger_out_active_low, 76);
    EXPECT_FIELD_AT(trigger_out_active_low_flags, 80);
    EXPECT_FIELD_AT(trigger_out_pulse_width, 84);
    EXPECT_FIELD_AT(trigger_out_pulse_width_flags, 88);
    EXPECT_FIELD_AT(trigger_out_pulse_width_min, 92);
    EXPECT_FIELD_AT(trigger_out_pulse_width_max, 96);

    EXPECT_FIELD_AT(sync_in_group_flags, 100);
    EXPECT_FIELD_AT(sync_in_enable, 104);
    EXPECT_FIELD_AT(sync_in_enable_flags, 108);
    EXPECT_FIELD_AT(sync_in_enable_caps, 112);
    EXPECT_FIELD_AT(sync_in_ppf, 116);
    EXPECT_FIELD_AT(sync_in_ppf_flags, 120);
    EXPECT_FIELD_AT(sync_in_master_rate, 124);
    EXPECT_FIELD_AT(sync_in_master_rate_flags, 128);
    EXPECT_FIELD_AT(sync_in_master_rate_min, 132);
    EXPECT_FIELD_AT(sync_in_master_rate_max, 136);
    EXPECT_FIELD_AT(sync_in_divisor, 140);
    EXPECT_FIELD_AT(sync_in_divisor_flags, 144);
    EXPECT_FIELD_AT(sync_in_divisor_min, 148);
    EXPECT_FIELD_AT(sync_in_divisor_max, 152);
    EXPECT_FIELD_AT(sync_in_delay, 156);
    EXPECT_FIELD_AT(sync_in_delay_flags, 160);
    EXPECT_FIELD_AT(sync_in_delay_min, 164);
    EXPECT_FIELD_AT(sync_in_delay_max, 168);
    EXPECT_FIELD_AT(sync_in_edge, 172);
    EXPECT_FIELD_AT(sync_in_edge_flags, 176);
    EXPECT_FIELD_AT(sync_in_family_words, 180);
    EXPECT_EQ(sizeof(Rec::sync_in_family_words), 8u);

    EXPECT_FIELD_AT(sync_out_group_flags, 188);
    EXPECT_FIELD_AT(sync_out_enable, 192);
    EXPECT_FIELD_AT(sync_out_enable_flags, 196);
    EXPECT_FIELD_AT(sync_out_enable_caps, 200);
    EXPECT_FIELD_AT(sync_out_source, 204);   // record word 51
    EXPECT_FIELD_AT(sync_out_source_flags, 208);
    EXPECT_FIELD_AT(sync_out_family_words, 212);
    EXPECT_EQ(sizeof(Rec::sync_out_family_words), 40u);

    EXPECT_FIELD_AT(arm_in_group_flags, 252);
    EXPECT_FIELD_AT(arm_in_enable, 256);  // record word 64
    EXPECT_FIELD_AT(arm_in_enable_flags, 260);
    EXPECT_FIELD_AT(arm_in_enable_caps, 264);
    EXPECT_FIELD_AT(arm_in_mode, 268);  // words 67 to 72
    EXPECT_FIELD_AT(arm_in_mode_flags, 272);
    EXPECT_FIELD_AT(arm_in_select, 276);
    EXPECT_FIELD_AT(arm_in_select_flags, 280);
    EXPECT_FIELD_AT(arm_in_edge, 284);
    EXPECT_FIELD_AT(arm_in_edge_flags, 288);

    EXPECT_FIELD_AT(arm_out_group_flags, 292);
    EXPECT_FIELD_AT(arm_out_enable, 296);  // record word 74
    EXPECT_FIELD_AT(arm_out_enable_flags, 300);
    EXPECT_FIELD_AT(arm_out_enable_caps, 304);
    EXPECT_FIELD_AT(arm_out_pass_thru, 308);  // word 77
    EXPECT_FIELD_AT(arm_out_pass_thru_flags, 312);
    EXPECT_FIELD_AT(arm_out_invert, 316);
    EXPECT_FIELD_AT(arm_out_invert_flags, 320);
    EXPECT_FIELD_AT(arm_out_active_low, 324);
    EXPECT_FIELD_AT(arm_out_active_low_flags, 328);
    EXPECT_FIELD_AT(arm_out_pulse_enable, 332);  // word 83
    EXPECT_FIELD_AT(arm_out_pulse_enable_flags, 336);
    EXPECT_FIELD_AT(arm_out_pulse_width, 340);  // words 85 to 88
    EXPECT_FIELD_AT(arm_out_pulse_width_flags, 344);
    EXPECT_FIELD_AT(arm_out_pulse_width_min, 348);
    EXPECT_FIELD_AT(arm_out_pulse_width_max, 352);

    EXPECT_FIELD_AT(fan_disable_flags, 356);
    EXPECT_FIELD_AT(fan_disable, 360);
}

TEST(RecordLayout, LensSettingsAndStatus) {
    {
        using Rec = HX_LENS_SETTINGS;
        EXPECT_EQ(sizeof(Rec), 44u);
        EXPECT_HEADER_AT_START();
        EXPECT_FIELD_AT(power, 8);
        EXPECT_FIELD_AT(power_flags, 12);
        EXPECT_FIELD_AT(f_number_num, 16);
        EXPECT_FIELD_AT(f_number_den, 20);
        EXPECT_FIELD_AT(f_number_flags, 24);
        EXPECT_FIELD_AT(focus_pos, 28);
        EXPECT_FIELD_AT(focus_pos_flags, 32);
        EXPECT_FIELD_AT(zoom_pos, 36);
        EXPECT_FIELD_AT(zoom_pos_flags, 40);
    }
    {
        using Rec = HX_LENS_STATUS;
        EXPECT_EQ(sizeof(Rec), 236u);
        EXPECT_HEADER_AT_START();
        EXPECT_FIELD_AT(connected, 8);
        EXPECT_FIELD_AT(connected_flags, 12);
        EXPECT_FIELD_AT(powered, 16);
        EXPECT_FIELD_AT(powered_flags, 20);
        EXPECT_FIELD_AT(talking, 24);
        EXPECT_FIELD_AT(talking_flags, 28);
        EXPECT_FIELD_AT(lens_family_words, 32);
        EXPECT_FIELD_AT(f_number_num, 40);
        EXPECT_FIELD_AT(f_number_den, 44);
        EXPECT_FIELD_AT(f_number_flags, 48);
        EXPECT_FIELD_AT(f_minimum_num, 52);
        EXPECT_FIELD_AT(f_minimum_den, 56);
        EXPECT_FIELD_AT(f_minimum_flags, 60);
        EXPECT_FIELD_AT(f_maximum_num, 64);
        EXPECT_FIELD_AT(f_maximum_den, 68);
        EXPECT_FIELD_AT(f_maximum_flags, 72);
        EXPECT_FIELD_AT(focus_pos, 76);
        EXPECT_FIELD_AT(focus_pos_flags, 80);
        EXPECT_FIELD_AT(focus_min, 84);
        EXPECT_FIELD_AT(focus_min_flags, 88);
        EXPECT_FIELD_AT(focus_near, 92);
        EXPECT_FIELD_AT(focus_near_flags, 96);
        EXPECT_FIELD_AT(focus_inf, 100);
        EXPECT_FIELD_AT(focus_inf_flags, 104);
        EXPECT_FIELD_AT(manual_focus, 108);
        EXPECT_FIELD_AT(manual_focus_flags, 112);
        EXPECT_FIELD_AT(zoom_pos, 116);
        EXPECT_FIELD_AT(zoom_pos_flags, 120);
        EXPECT_FIELD_AT(focal_len, 124);
        EXPECT_FIELD_AT(focal_len_flags, 128);
        EXPECT_FIELD_AT(name, 132);  // room up to offset 199
        EXPECT_EQ(sizeof(Rec::name), 68u);
        EXPECT_FIELD_AT(name_flags, 200);
        EXPECT_FIELD_AT(focal_len_tele, 204);
        EXPECT_FIELD_AT(focal_len_tele_flags, 208);
        EXPECT_FIELD_AT(focal_len_wide, 212);
        EXPECT_FIELD_AT(focal_len_wide_flags, 216);
        EXPECT_FIELD_AT(zoom_divisions, 220);
        EXPECT_FIELD_AT(zoom_divisions_flags, 224);
        EXPECT_FIELD_AT(ez_enable, 228);
        EXPECT_FIELD_AT(ez_enable_flags, 232);
    }
}

TEST(RecordLayout, PlaybackSettingsAndProgress) {
    {
        using Rec = HX_PLAYBACK_SETTINGS;
        EXPECT_EQ(sizeof(Rec), 72u);
        EXPECT_HEADER_AT_START();
        EXPECT_FIELD_AT(mode, 8);
        EXPECT_FIELD_AT(mode_flags, 12);
        EXPECT_FIELD_AT(mode_caps, 16);
        EXPECT_FIELD_AT(current_frame, 20);
        EXPECT_FIELD_AT(current_frame_flags, 24);
        EXPECT_FIELD_AT(current_frame_max, 28);
        EXPECT_FIELD_AT(cut_in, 32);
        EXPECT_FIELD_AT(cut_in_flags, 36);
        EXPECT_FIELD_AT(cut_in_max, 40);
        EXPECT_FIELD_AT(cut_out, 44);
        EXPECT_FIELD_AT(cut_out_flags, 48);
        EXPECT_FIELD_AT(cut_out_max, 52);
        EXPECT_FIELD_AT(interval, 56);
        EXPECT_FIELD_AT(interval_flags, 60);
        EXPECT_FIELD_AT(trigger, 64);
        EXPECT_FIELD_AT(trigger_flags, 68);
    }
    {
        using Rec = HX_PROGRESS;
        EXPECT_EQ(sizeof(Rec), 32u);
        EXPECT_HEADER_AT_START();
        EXPECT_FIELD_AT(error, 8);  // record words 2 to 5 as the progress computation fills them
        EXPECT_FIELD_AT(total_frames, 12);
        EXPECT_FIELD_AT(trigger_frames, 16);
        EXPECT_FIELD_AT(recorded_frames, 20);
        EXPECT_FIELD_AT(percent, 24);
        EXPECT_FIELD_AT(camera_progress, 28);
    }
}

TEST(RecordLayout, ReadStreamAndStreamSettings) {
    {
        using Rec = HX_READ_STREAM;
        EXPECT_EQ(sizeof(Rec), 56u);
        EXPECT_HEADER_AT_START();
        EXPECT_FIELD_AT(buffer, 8);
        EXPECT_FIELD_AT(buffer_size, 16);
        EXPECT_FIELD_AT(status, 24);
        EXPECT_FIELD_AT(reserved_28, 28);
        EXPECT_FIELD_AT(received_length, 32);
        EXPECT_FIELD_AT(reserved_36, 36);
        EXPECT_FIELD_AT(image_length, 40);
        EXPECT_FIELD_AT(reserved_44, 44);
        EXPECT_FIELD_AT(frame_id, 48);
        EXPECT_FIELD_AT(reserved_52, 52);
    }
    {
        using Rec = HX_STREAM_SETTINGS;
        EXPECT_EQ(sizeof(Rec), 32u);
        EXPECT_HEADER_AT_START();
        EXPECT_FIELD_AT(interpacket_delay, 8);
        EXPECT_FIELD_AT(interpacket_delay_flags, 12);
        EXPECT_FIELD_AT(jpeg_quality, 16);
        EXPECT_FIELD_AT(jpeg_quality_flags, 20);
        EXPECT_FIELD_AT(jpeg_quality_min, 24);
        EXPECT_FIELD_AT(jpeg_quality_max, 28);
    }
}

TEST(RecordLayout, TemperatureFloatsInKeyOrder) {
    using Rec = HX_TEMPERATURE;
    EXPECT_EQ(sizeof(Rec), 44u);
    EXPECT_HEADER_AT_START();
    EXPECT_FIELD_AT(temp_a10_ext, 8);
    EXPECT_FIELD_AT(temp_a10_int, 12);
    EXPECT_FIELD_AT(temp_em2120, 16);
    EXPECT_FIELD_AT(temp_fan_external, 20);
    EXPECT_FIELD_AT(temp_fan_internal, 24);
    EXPECT_FIELD_AT(temp_firefly, 28);
    EXPECT_FIELD_AT(temp_nvme, 32);
    EXPECT_FIELD_AT(temp_pcie, 36);
    EXPECT_FIELD_AT(temp_sensor, 40);
}

TEST(PublicConstants, MatchTheInterfaceTables) {
    EXPECT_EQ(HX_API_VERSION_MAJ, 2);
    EXPECT_EQ(HX_API_VERSION_MIN, 12);
    EXPECT_EQ(HX_STATUS_OK, 0);
    EXPECT_EQ(HX_STATUS_ERROR, 1);
    EXPECT_EQ(HX_FLAG_SET | HX_FLAG_ERR | HX_FLAG_CHG, 0xE);
    EXPECT_EQ(HX_TRACE_ALL, 0x3FF1);
    EXPECT_EQ(HX_TRACE_ALL & HX_TRACE_PACKING, 0);
    EXPECT_EQ(HX_TRACE_LIFECYCLE | HX_TRACE_OPERATIONS | HX_TRACE_CALLBACK | HX_TRACE_API |
                  HX_TRACE_SERVICES | HX_TRACE_DISCOVERY | HX_TRACE_COMM | HX_TRACE_WRAPPER |
                  HX_TRACE_STREAM | HX_TRACE_SOCKET | 0x1,
              HX_TRACE_ALL);
    EXPECT_EQ(HX_DISCOVERY, 1);
    EXPECT_EQ(HX_STATE, 4);
    EXPECT_EQ(HX_DOWNLOAD_DATA, 10);
    EXPECT_EQ(HX_LIVE_DATA, 11);
    EXPECT_EQ(HX_PLAYBACK_DATA, 12);
    EXPECT_EQ(HX_STREAM_NEGOTIATION, 14);
    EXPECT_EQ(HX_STREAM_STATUS_LAST | HX_STREAM_STATUS_ERROR, 12);
    EXPECT_EQ(HX_STREAM_MIN_BUFFER_SIZE, 0x100000u);
    EXPECT_EQ(HX_BIT_MODE_12, 0x100);
    EXPECT_EQ(HX_BNS_MODE_2X2, 0x20);
    EXPECT_EQ(HX_PLAY_FORWARD | HX_PLAY_REVERSE | HX_PLAY_PAUSE, 0x7);
}

}  // namespace
