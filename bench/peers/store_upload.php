<?php
// Stores the posted image, as a PHP site would: the upload arrives as a temporary file.
$file = $_FILES['upfile'] ?? null;
$dir = getenv('PEER_DIR');
if ($file && $file['error'] === UPLOAD_ERR_OK &&
    move_uploaded_file($file['tmp_name'], $dir . '/' . getmypid() . '.jpg')) {
  echo "<html>stored</html>\r\n";
} else {
  echo "<html>no file</html>\r\n";
}
