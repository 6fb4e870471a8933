# The benchmarks that time the product's own code, built for the shipped i686 program too
# (its tree includes this file): make bench runs them beside their x86_64 builds where
# this machine runs 32-bit code. Built only on demand (target bench_shipped), so that the
# shipped tree's default build stays the program alone.
set(velto_bench_dir ${CMAKE_CURRENT_LIST_DIR})
add_executable(download_bench EXCLUDE_FROM_ALL ${velto_bench_dir}/download/download_bench.cpp)
target_link_libraries(download_bench PRIVATE velto crypt32)
add_executable(refresh_bench EXCLUDE_FROM_ALL ${velto_bench_dir}/program/refresh_bench.cpp
               $<TARGET_OBJECTS:velto_resources>)
target_link_libraries(refresh_bench PRIVATE velto)
foreach(bench download_bench refresh_bench)
  target_include_directories(${bench} PRIVATE ${velto_bench_dir})
  target_link_options(${bench} PRIVATE -municode)
endforeach()
add_custom_target(bench_shipped DEPENDS download_bench refresh_bench)
