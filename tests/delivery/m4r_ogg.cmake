# iPhone and Android ringtones on their way to the phone: media types in mails and uploads, and
# the real skyletd storing and serving them.
tolvane_test(test_m4r_ogg_delivery SOURCES
  ${CMAKE_CURRENT_LIST_DIR}/m4r_ogg_delivery_test.cpp
  LIBS tolvane_local_servers
  TIMEOUT 300)
add_dependencies(test_m4r_ogg_delivery skyletd tolvane-convert)
