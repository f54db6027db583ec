# Fails unless the program exports the global shortcut class and qxtVersion() by their C++ names.
execute_process(COMMAND nm -D --defined-only ${PROGRAM} OUTPUT_VARIABLE symbols RESULT_VARIABLE result)
if(NOT result EQUAL 0)
  message(FATAL_ERROR "nm failed on ${PROGRAM}")
endif()
foreach(symbol _Z10qxtVersionv _ZN17QxtGlobalShortcut16staticMetaObjectE _ZN17QxtGlobalShortcut9activatedEv
               _ZN17QxtGlobalShortcutC1EP7QObject _ZN17QxtGlobalShortcut11setShortcutERK12QKeySequence
               _ZNK17QxtGlobalShortcut8shortcutEv _ZN17QxtGlobalShortcutD1Ev)
  string(FIND "${symbols}" " ${symbol}\n" at)
  if(at EQUAL -1)
    message(FATAL_ERROR "${PROGRAM} does not export ${symbol}")
  endif()
endforeach()
