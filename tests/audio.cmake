# The capture module on the real PortAudio devices, beside a private PulseAudio server with a tone
# playing (scripts/with-pulse). Skipped (status 77) when no server can be started.
if(TARGET capture AND TARGET fft)
  add_executable(audio_capture_test ${CMAKE_CURRENT_SOURCE_DIR}/audio/capture_tone_test.cpp)
  target_link_libraries(audio_capture_test PRIVATE capture fft platform)
  foreach(case "2048;600" "8192;3000")
    list(GET case 0 rate)
    list(GET case 1 tone)
    add_test(NAME audio_capture_${rate}
      COMMAND ${PROJECT_SOURCE_DIR}/scripts/with-pulse --tone ${tone} --
              $<TARGET_FILE:audio_capture_test> ${rate} ${tone})
    set_tests_properties(audio_capture_${rate} PROPERTIES
      LABELS audio SKIP_RETURN_CODE 77 TIMEOUT 120 RESOURCE_LOCK pulseaudio)
  endforeach()
endif()
if(TARGET audio_capture_test)
  add_test(NAME audio_capture_vanish
    COMMAND ${PROJECT_SOURCE_DIR}/scripts/with-pulse --tone 600 -- $<TARGET_FILE:audio_capture_test> vanish)
  set_tests_properties(audio_capture_vanish PROPERTIES
    LABELS audio SKIP_RETURN_CODE 77 TIMEOUT 120 RESOURCE_LOCK pulseaudio)
endif()
