# SPDX-License-Identifier: GPL-3.0-or-later
# The capture chain on the real sound input, beside a private PulseAudio and a private
# PipeWire (scripts/harness/with-pulse, scripts/harness/with-pipewire) with a tone in their null sink. Skipped
# (status 77) when a server cannot be started. One server at a time: they share the ALSA plugins'
# view of "default" through each test's own HOME, but not the machine's two cores.
add_executable(audio_capture_test ${CMAKE_CURRENT_SOURCE_DIR}/audio/capture_tone_test.cpp)
target_link_libraries(audio_capture_test PRIVATE capture fft platform_sound)

add_executable(program_steady_test ${CMAKE_CURRENT_SOURCE_DIR}/audio/program_steady_test.cpp)
target_link_libraries(program_steady_test PRIVATE analyser platform_sound)

foreach(server pulse pipewire)
  set(with ${PROJECT_SOURCE_DIR}/scripts/harness/with-${server})
  foreach(case "2048;600" "8192;3000")
    list(GET case 0 rate)
    list(GET case 1 tone)
    add_test(NAME audio_capture_${server}_${rate}
      COMMAND ${with} --tone ${tone} -- $<TARGET_FILE:audio_capture_test> ${rate} ${tone})
  endforeach()
  add_test(NAME audio_capture_${server}_vanish
    COMMAND ${with} --tone 600 -- $<TARGET_FILE:audio_capture_test> vanish)
  # Two inputs: each chosen one records its tone, one unplugged mid-capture, the server stopped.
  add_test(NAME audio_inputs_${server}
    COMMAND ${with} --sink det:700 --sink mic:300 -- $<TARGET_FILE:audio_capture_test> inputs)
  # The program records from the server itself; PortAudio, through ALSA's pulse plugin, is what
  # it falls back on where no server answers.
  add_test(NAME audio_capture_${server}_portaudio_2048
    COMMAND ${with} --tone 600 -- $<TARGET_FILE:audio_capture_test> 2048 600)
  add_test(NAME audio_capture_${server}_portaudio_vanish
    COMMAND ${with} --tone 600 -- $<TARGET_FILE:audio_capture_test> vanish)
  set_tests_properties(audio_capture_${server}_portaudio_2048 audio_capture_${server}_portaudio_vanish
    PROPERTIES ENVIRONMENT TONVAULT_SOUND_INPUT=portaudio)
  # The window at its start-up settings for 20 s (the full measurement runs it for 60). Timing
  # bounds are figures to read, not pass marks on a shared machine: here they are only printed.
  add_test(NAME audio_program_steady_${server}
    COMMAND ${with} --tone 700 -- $<TARGET_FILE:program_steady_test> 20 --figures)
  set_tests_properties(audio_program_steady_${server} PROPERTIES ENVIRONMENT QT_QPA_PLATFORM=offscreen)
  set(tests audio_program_steady_${server} audio_capture_${server}_2048 audio_capture_${server}_8192
    audio_capture_${server}_vanish audio_inputs_${server} audio_capture_${server}_portaudio_2048
    audio_capture_${server}_portaudio_vanish)
  if(TONVAULT_BENCHMARKS)
    # Completion intervals, delay, pass band and alias at every rate (the bench makes its own tones),
    # printed for the log; the bounds are checked by running it with --check on a quiet machine.
    add_test(NAME audio_cadence_${server}
      COMMAND ${with} -- $<TARGET_FILE:capture_cadence> --buffers 6)
    list(APPEND tests audio_cadence_${server})
  endif()
  set_tests_properties(${tests} PROPERTIES
    LABELS audio SKIP_RETURN_CODE 77 TIMEOUT 150 RESOURCE_LOCK soundserver)
endforeach()
