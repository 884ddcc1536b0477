public class Exit {
    public static void main(String[] args) {
        System.exit(3);
    }
}
