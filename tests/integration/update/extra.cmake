# The tests build their archives with the packer.
target_link_libraries(${TEST_TARGET} PRIVATE veltrano_pack)
