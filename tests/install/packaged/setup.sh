# Run once the files are in place.
echo "$ZKINSTALL_PRODUCT $ZKINSTALL_PRODUCT_VERSION in $INSTALL_ROOT" > "$INSTALL_ROOT/share/hello/installed"
