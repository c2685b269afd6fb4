# The installed tree used by another user (needs root and runuser; skipped otherwise). It installs
# the whole build, so it runs after a full build (`make test`).
tolvane_test(test_install SOURCES ${CMAKE_CURRENT_LIST_DIR}/install_test.cpp
  LIBS tolvane_local_servers
  TIMEOUT 300)
add_dependencies(test_install tolvane-convert sending skyletd tolvane-hive)
