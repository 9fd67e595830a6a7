<?php
// The gate's benchmark requests in PHP, reading and locking the same files: a profile
// query (GET showuser=ID&session=S), a registration, a posting and a changepw (POST command=).
// GATE_CONFIG names the gate's config.txt. Answers in the gate's page shapes.

function read_pairs($path, $lock = LOCK_SH) {
    $handle = @fopen($path, 'rb');
    if ($handle === false) return null;
    flock($handle, $lock);
    $text = stream_get_contents($handle);
    fclose($handle);
    $pairs = [];
    foreach (explode("\r\n", $text) as $line) {
        $at = strpos($line, '=');
        if ($at !== false && !isset($pairs[substr($line, 0, $at)])) {
            $pairs[substr($line, 0, $at)] = substr($line, $at + 1);
        }
    }
    return $pairs;
}

function page($title, $body) {
    $html = "<html><head><title>$title</title>\r\n<META http-equiv=\"Content-Type\" " .
        "content=\"text/html; charset=Shift_JIS\"></head>\r\n<body>$body</body></html>\r\n";
    header('Content-Type: text/html');
    header('Content-Length: ' . strlen($html));
    echo $html;
    exit;
}

function error_page($message) { page('error', "<h3>ERROR: $message</h3>\r\n"); }

function settings($session) {
    $config = read_pairs(getenv('GATE_CONFIG') ?: $_SERVER['GATE_CONFIG']);
    if ($config === null || !ctype_alnum($session)) error_page('The session does not exist.');
    $settings = read_pairs(rtrim($config['sessiondb'], '/') . "/$session.txt");
    if ($settings === null) error_page('The session does not exist.');
    return $settings;
}

function member_path($settings, $id) {
    if (!ctype_alnum($id)) error_page('The ID contains characters that cannot be used.');
    return rtrim($settings['membersdb'], '/') . "/$id.txt";
}

function profile($session, $id) {
    $settings = settings($session);
    $record = read_pairs(member_path($settings, $id));
    if ($record === null) page('', '');
    $rows = '';
    foreach (['id', 'realname', 'country', 'mail'] as $field) {
        $value = htmlspecialchars($record[$field] ?? '', ENT_QUOTES, 'SJIS');
        $rows .= "<tr><td>$field</td><td>$value</td></tr>\r\n";
    }
    page('Profile', "<table>\r\n$rows</table>\r\n");
}

// The password check of the gate: a pwhash line when the record has one, else its pw line.
function password_opens($record, $given) {
    if (isset($record['pwhash'])) return password_verify($given, $record['pwhash']);
    return ($record['pw'] ?? '') !== '' && hash_equals($record['pw'], $given);
}

// changepw: the new password hashed with the gate's Argon2id parameters in the place of
// the record's password line, the record replaced under the directory's lock.
function change_password() {
    $settings = settings($_POST['session'] ?? '');
    $id = $_POST['id'] ?? '';
    $pw1 = $_POST['pw1'] ?? '';
    if ($id === '' || ($_POST['pw0'] ?? '') === '' || $pw1 === '') error_page('There is a blank.');
    if ($pw1 !== ($_POST['pw2'] ?? '')) error_page('A new password is different.');
    if (strlen($pw1) < 5) error_page('Password must be five or more characters.');
    $path = member_path($settings, $id);
    $lock = fopen(rtrim($settings['membersdb'], '/') . '/.members.lock', 'c');
    flock($lock, LOCK_EX);
    $record = read_pairs($path);
    if ($record === null) error_page('The ID does not exist.');
    if (!password_opens($record, $_POST['pw0'])) error_page('password was not changed.');
    $hash = password_hash($pw1, PASSWORD_ARGON2ID,
                          ['memory_cost' => 19456, 'time_cost' => 2, 'threads' => 1]);
    $lines = explode("\r\n", file_get_contents($path));
    foreach ($lines as $n => $line) {
        if (str_starts_with($line, 'pwhash=') || str_starts_with($line, 'pw=')) {
            $lines[$n] = "pwhash=$hash";
            break;
        }
    }
    $draft = "$path." . getmypid() . '.new';
    file_put_contents($draft, implode("\r\n", $lines));
    rename($draft, $path);
    fclose($lock);
    page('Registration acceptance', "<h3>Registration was accepted.</h3>\r\n");
}

function register() {
    $settings = settings($_POST['session'] ?? '');
    $id = $_POST['id'] ?? '';
    $pw = $_POST['pw'] ?? '';
    if ($id === '' || $pw === '') error_page('There is a blank.');
    if ($pw !== ($_POST['pw2'] ?? '')) error_page('The password is wrong.');
    if (strlen($pw) < 5) error_page('Password must be five or more characters.');
    $path = member_path($settings, $id);
    $lock = fopen(rtrim($settings['membersdb'], '/') . '/.members.lock', 'c');
    flock($lock, LOCK_EX);
    $record = '';
    foreach (['id' => $id, 'pw' => $pw, 'realname' => $_POST['realname'] ?? '',
              'country' => $_POST['country'] ?? '', 'mail' => $_POST['mail'] ?? ''] as $k => $v) {
        $record .= "$k=$v\r\n";
    }
    $draft = "$path." . getmypid() . '.new';
    file_put_contents($draft, $record);
    $linked = @link($draft, $path);
    unlink($draft);
    fclose($lock);
    if (!$linked) error_page('The same ID is already registered.');
    page('Registration acceptance', "<h3>Registration was accepted.</h3>\r\n");
}

function post_leaf() {
    $settings = settings($_POST['session'] ?? '');
    $record = read_pairs(member_path($settings, $_POST['id'] ?? ''));
    if ($record === null) error_page('The member does not exist.');
    if (!password_opens($record, $_POST['pw'] ?? '')) error_page('The password is wrong.');
    $upload = $_FILES['upfile'] ?? null;
    if ($upload === null || $upload['error'] !== UPLOAD_ERR_OK) error_page('There is no attached file.');
    $leaves = rtrim($settings['path'], '/');
    $counter = fopen($settings['FileNameCounter'] ?? "$leaves/counter.txt", 'c+');
    flock($counter, LOCK_EX);
    $taken = intval(stream_get_contents($counter)) + 1;
    rewind($counter);
    fwrite($counter, (string)$taken);
    fflush($counter);
    $name = sprintf('leaf%06d', $taken);
    move_uploaded_file($upload['tmp_name'], "$leaves/$name.jpg");
    $fields = "<qelkeys>\r\n";
    foreach ($_POST as $k => $v) {
        if ($k !== 'pw') $fields .= "$k=$v\r\n";
    }
    file_put_contents("$leaves/$name.txt", $fields . "\r\n</qelkeys>\r\n");
    fclose($counter);
    page('File acceptance', "<h3>The file was accepted.</h3>\r\n");
}

if ($_SERVER['REQUEST_METHOD'] === 'GET') {
    profile($_GET['session'] ?? '', $_GET['showuser'] ?? '');
}
switch ($_POST['command'] ?? '') {
    case 'registration': register();
    case 'postleaf': post_leaf();
    case 'changepw': change_password();
}
error_page('no data');
