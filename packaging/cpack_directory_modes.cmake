# Run by CPack once it has installed into its staging tree, before it packs
# it. Directories there are made under the builder's umask: with 077 the
# package would ship directories only root may enter.
file(CHMOD_RECURSE ${CPACK_TEMPORARY_INSTALL_DIRECTORY}
  DIRECTORY_PERMISSIONS OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ GROUP_EXECUTE WORLD_READ WORLD_EXECUTE)
