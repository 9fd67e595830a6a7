#!/usr/bin/perl
# Stores the posted image, as a Perl site would with CGI.pm.
use strict;
use warnings;
use CGI;

my $q = CGI->new;
my $in = $q->upload('upfile');
my $stored = 0;
if ($in) {
  my $path = "$ENV{PEER_DIR}/$$.jpg";
  open(my $out, '>:raw', $path) or die "cannot write $path";
  binmode $in;
  my $piece;
  while (read($in, $piece, 262144)) { print $out $piece; }
  close $out;
  $stored = 1;
}
print $q->header('text/html'), $stored ? "<html>stored</html>\r\n" : "<html>no file</html>\r\n";
